// Registers the back-end action classes (Ferrolink.*) with the registry.
#pragma once

namespace ferrolink {

void RegisterComponents();

}  // namespace ferrolink
