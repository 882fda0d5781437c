// The web session's private copy of the whole configuration and the items
// being edited. Pages change the copy; SaveSettings writes the settings file
// and has the running engine apply it.
#pragma once

#include <cstdint>
#include <memory>
#include <set>

#include "Common/uDomainHandler.h"
#include "platform/web/WebApplication.h"
#include "platform/web/WebControls.h"

class TDomain;
class TServerCluster;
class TSSLSettings;

class TUserSession : public web::SessionData {
 public:
  TUserSession();
  ~TUserSession() override;

  std::unique_ptr<TDomainHandler> DomainHandler;
  // -1: the first item of the list (or none).
  int32_t DomainIndex = -1;
  int32_t ServerClusterIndex = -1;
  int32_t SSLSettingsIndex = -1;
  // Ids of the virtual paths the domain main page marked for removal when it
  // was left for another page of the domain; its next save removes them.
  std::set<int32_t> PathsMarkedForRemoval;

  // Replaces the copy (unsaved edits included) from the settings file.
  void LoadSettings();
  // Writes the file (keeping ".old"), then the engine reloads it.
  void SaveSettings();

  // The item at the index; nil for an empty list or an index outside it.
  TDomain* GetCurrentDomain() const;
  TServerCluster* GetCurrentServerCluster() const;
  TSSLSettings* GetCurrentSSLSettings() const;
  // The index of Item in the copy's list, -1 when it is not there.
  void SetCurrentDomain(const TDomain* domain);
  void SetCurrentServerCluster(const TServerCluster* cluster);
  void SetDomainIndex(int32_t i) { DomainIndex = i; }
  void SetServerClusterIndex(int32_t i) { ServerClusterIndex = i; }
  void SetSSLSettingsIndex(int32_t i) { SSLSettingsIndex = i; }
};

// The session of the request this thread serves; nullptr outside a request.
TUserSession* UserSession();

// One item per domain of the copy, "(http) name", selecting the current
// domain; Tag is 1 while filling, so change handlers can ignore it.
void FillDomainCombo(web::ComboBox* combo);
