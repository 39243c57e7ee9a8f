// Registers the sales classes (Vendra.*) with the registry.
#pragma once

namespace vendra {

void RegisterComponents();

}  // namespace vendra
