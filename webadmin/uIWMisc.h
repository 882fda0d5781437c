// Helpers over groups of page controls.
#pragma once

#include <vector>

#include "platform/web/WebControls.h"
#include "platform/web/WebGrid.h"

// Frees every cell of the grid with the controls placed in it; nil is ignored.
void ClearGrid(web::Grid* grid);
// Visible of every label among Controls; other controls are left alone.
void SetControlsVisible(bool visible, const std::vector<web::Control*>& controls);
// Labels turn silver (not editable) or black, edits read-only, check boxes
// not editable; other controls are left alone.
void SetControlsEditable(bool editable, const std::vector<web::Control*>& controls);
