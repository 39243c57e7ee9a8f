// The claim statement of a periodic run (the hand-over of waiting orders,
// the quotation reminders): one INSERT ... SELECT that writes a claim row for
// every row due that no other run holds, the claimed key being the claim
// table's primary key.
//
// On a server database that several web servers share, two runs may both
// read a row as unclaimed (each statement sees what was committed when it
// began); the later claim then meets the earlier on the key once that one
// commits. ExecuteClaim runs the statement again in that case: the failed
// statement was undone alone (the transaction goes on, on both drivers), and
// run again it sees the other run's claims and takes only what is left. On
// SQLite the write lock orders the runs, so the first try always succeeds.
//
// Thread-safety: none of its own; the connection is the caller's.
#pragma once

#include <string>

#include "platform/core/variant.h"
#include "platform/data/connection.h"

namespace lib_sales {

// Runs a claim statement on connection, within the caller's transaction;
// claimed receives the rows claimed. Any failure other than a collision on
// the key, or a collision that persists over a few tries, is raised as the
// connection raised it.
void ExecuteClaim(platform::data::Connection& connection, const std::string& sql, platform::Variant* claimed);

}  // namespace lib_sales
