// IReferentialIntegrity is the question the platform's master-data
// maintenance asks the business classes before it deletes master data (a
// customer, a product, a currency, ...): does your data still refer to it
// (Exists), and remove the rows of yours that depend on it (BeforeDelete).
//
// The kind is a text compared in upper case ("CUSTOMER", "BUSINESSPARTNER",
// "PRODUCT", "CURRENCY", "TRANSPORTCARRIER", "COUNTRY", "UNIT", "USER",
// "ADDRESS", "KROINSTANCE"). The key comes as two arrays of the same length:
// key field names (compared in upper case) and key values; a class uses the
// fields it knows and ignores the others.
//
// The maintenance reaches implementers late-bound, by programmatic
// identifier and operation name (master_data.h keeps the list); a C++
// implementer derives from this class as well, so the compiler holds it to
// the contract.
//
// Thread-safety: as the implementing class says.
#pragma once

#include <string>

#include "platform/core/variant.h"

namespace platform {

class IReferentialIntegrity {
 public:
  virtual ~IReferentialIntegrity() = default;

  // True when the class's data refers to the key.
  virtual bool Exists(const std::string& kind, const Variant& keyNames,
                      const Variant& keyValues) = 0;
  // Removes the class's rows that depend on the key; the answer tells whether
  // the class let the delete go on.
  virtual bool BeforeDelete(const std::string& kind, const Variant& keyNames,
                            const Variant& keyValues) = 0;
};

}  // namespace platform
