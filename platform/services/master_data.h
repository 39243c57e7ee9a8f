// The platform's master-data maintenance: deleting a master record (a
// customer, a product, a currency, a carrier, a country, a unit, an address,
// a user, a back-end instance) only when nothing refers to it, together with
// the rows that depend on it.
//
// The business classes answer for their own data through IReferentialIntegrity
// (referential_integrity.h); they are registered here by programmatic
// identifier and asked late-bound, in the order registered. A delete:
//   1. checks the key (the kind's own key field, a number where the key is
//      one) and that the record exists;
//   2. lets every implementer remove its dependent rows (BeforeDelete);
//   3. asks every implementer whether its data still refers to the record
//      (Exists), and counts the platform's own rows that do (a partner's
//      addresses and users, the partners of a currency, ...);
//   4. refuses, naming every holder, when anything still refers to it;
//      otherwise removes the record's own dependent rows (exchange rates,
//      category links) and the record.
// All of it runs in one transaction per database (data::TransactionScope):
// a refusal or a failure at any step leaves every database as it was. A
// BeforeDelete answering false removed nothing; whether the delete may go on
// is then the Exists answers' to decide, asked after every removal.
//
// Each master kind is asked of the implementers under the contract kinds
// that describe it: a customer both as "CUSTOMER" (key BUSINESSPARTNERID, and
// CUSTOMERID, the name the price lists remove a customer's prices by) and as
// "BUSINESSPARTNER".
//
// Thread-safety: the list of implementers is filled at start-up and read
// under a lock; a delete runs on the calling thread in its own scope.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/core/variant.h"

namespace platform {

// Adds an implementer of IReferentialIntegrity (a programmatic identifier);
// registering one twice keeps one entry.
void RegisterReferentialIntegrity(std::string progid);
std::vector<std::string> ReferentialIntegrityImplementers();

struct MasterDeleteOutcome {
  bool deleted = false;
  std::string kind;                  // the master kind ("CUSTOMER")
  std::string record;                // "Kelmor.BUSINESSPARTNER BUSINESSPARTNERID=1004"
  std::vector<std::string> held_by;  // "Vendra.Basket", "Kelmor.ADDRESS (3 rows)"
  std::vector<std::string> removed;  // "Vendra.Manager: 1 row", "Kelmor.BUSINESSPARTNER: 1 row"
};

// The master kinds and the key field each is deleted by ("CUSTOMER",
// "BUSINESSPARTNERID"), for help texts.
std::vector<std::pair<std::string, std::string>> MasterKinds();

// Deletes one master record as described above. The kind compares without
// case ("carrier" and "instance" name TRANSPORTCARRIER and KROINSTANCE); the
// key is (field, value) pairs. An unknown kind, a key field the kind does not
// have, a missing key, a value that is no number for a numeric key and a
// record that does not exist raise 5 with nothing changed; a failure of an
// implementer reaches the caller with nothing changed.
MasterDeleteOutcome DeleteMasterRecord(std::string_view kind,
                                       const std::vector<std::pair<std::string, Variant>>& key);

}  // namespace platform
