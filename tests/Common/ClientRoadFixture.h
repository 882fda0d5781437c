// The loopback road of ClientRoadHost.h as a test fixture.
#pragma once

#include <gtest/gtest.h>

#include "tests/Common/ClientRoadHost.h"

namespace roadtest {

class RoadFixture : public ::testing::Test, public RoadHost {};

}  // namespace roadtest
