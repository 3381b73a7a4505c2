// The local peer's identity: computer name, the identifier kept in Qt's
// native settings and the business card kept in the configuration store.
// Called on the GUI thread.
#pragma once

#include <string>

#include "store/business_card_info.h"

struct LocalIdentity {
  std::string computerName;  // empty when it cannot be read
  BusinessCardInfo card;     // uuid, card fields, device = computerName
};

// The computer name (host name); empty on failure.
std::string GetComputerName();

// Reads the identity; on the first start of a user creates the identifier and
// syncs it to disk before returning, so that every later start presents the
// same peer.
LocalIdentity LoadLocalIdentity();

// Writes the five card fields through the settings accessors and flushes the
// store; identifier and device are never written here.
void SaveLocalCard(const BusinessCardInfo& card);

// A new random identifier: braces around 36 lower-case hex digits and hyphens.
std::string NewLocalPeerUuid();
