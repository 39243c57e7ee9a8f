// The routines that tie the sales objects to the site around them: the value
// test used everywhere (Sls_HasValue), the shop user as the membership
// directory knows it (Sls_CreateUserObject, Sls_GetUserProperty), the shop's
// base address (Sls_getSiteName), catalogue properties of products
// (GetProductProperty, ValidProduct, GetMinProductProperty) and the choice of
// a partner's back-end address code (Sls__DetermineAddressInfo).
//
// The user routines never raise: they log and hand back a neutral value
// (false, nullptr, "", 0). The product routines log and raise.
//
// Thread-safety: the user cache (configuration directory, directory sign-on,
// site name) is filled once per thread by the first Sls_CreateUserObject and
// never shared, so nothing is locked.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/object.h"
#include "platform/core/variant.h"

namespace lib_sales {

// False for Null, Empty, "" and the text "0"; true otherwise ("00", " ").
bool Sls_HasValue(const platform::Variant& value);

// The membership user for user_id, signed on with the site's directory
// credentials; nullptr (and a log entry) when the directory cannot give it.
// site_name receives the cached site address; help_email is written only by
// the call that fills this thread's cache.
platform::ObjectPtr Sls_CreateUserObject(const std::string& user_id, std::string& site_name,
                                         std::string& help_email);
platform::ObjectPtr Sls_CreateUserObject(const std::string& user_id);
// The same for a batch that looks up many users: directory is the signed-on
// "Dunmere.Members" of the batch, created and signed on by the first call
// (pass an empty one) and reused by the later ones, so the batch signs on
// once and keeps one directory connection. Dropped again when a look-up
// fails for another reason than an unknown user.
platform::ObjectPtr Sls_CreateUserObject(const std::string& user_id, std::string& site_name,
                                         std::string& help_email, platform::ObjectPtr& directory);

// "HTTP://host/dir" or "HTTPS://host/dir" from the site configuration; "" on
// failure (logged).
std::string Sls_getSiteName();

// The user's ReferenceName. Raises when the user cannot be had: the caller's
// handler reports it.
std::string Sls_GetUserProperty(const std::string& user_id);

// One property of a catalogue product (a property the product does not have
// is a failure).
platform::Variant GetProductProperty(int32_t product_id, const std::string& property_name);

// True when the product may be sold today. Otherwise error_key names why, as
// a label code the pages translate: "VendraError_ProductDisabled" (checked
// first) or "VendraError_ProductExpired" (today after the expiry day).
bool ValidProduct(int32_t product_id, std::string& error_key);

// The same answer from the product's properties already read
// (Brevane.Product's GetProductProperties), for callers that read each
// product of a document once; and the expiry rule alone.
bool ValidProduct(const platform::ObjectPtr& properties, std::string& error_key);
bool ValidProductExpiry(const platform::Variant& expiry, std::string& error_key);

// The lowest (for dates the earliest) non-null value of the property over the
// products. The first product seeds the minimum, so a Null there leaves the
// result Null for the whole array; an empty array gives Null.
platform::Variant GetMinProductProperty(const platform::VariantArray& product_ids,
                                        const std::string& property_name);
// The same over properties already read, one collection per product.
platform::Variant MinProductProperty(const std::vector<platform::ObjectPtr>& properties,
                                     const std::string& property_name);

// Chooses the back-end address code of a partner's address for a connector
// type ("tw4", "tw5", "twkt"). address_id 0 means the partner's default
// address of the kind ("INV" for invoice, anything else shipping) and comes
// back as that id. Returns 1 when a code was found (and written to
// address_code), 2 when not found for the default address, 3 when not found
// for another address, 0 on failure (logged).
int16_t Sls__DetermineAddressInfo(int32_t partner_id, int32_t& address_id,
                                  const std::string& address_kind, std::string& address_code,
                                  const std::string& connector_type);

// The item of a keyed collection: a Dictionary (Empty for an absent key) or
// any object with an indexed Item property.
platform::Variant ItemOf(const platform::ObjectPtr& collection, const std::string& key);

// Tests only: forget this thread's user cache.
void ResetUserCache();

}  // namespace lib_sales
