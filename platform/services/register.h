// Registers the platform's components with the registry under their
// programmatic identifiers. Called once by every program (and the test main)
// before any object is created.
#pragma once

namespace platform {

void RegisterPlatformComponents();

}  // namespace platform
