// os/availability.h: the availability annotation for macOS, reduced to the
// form these declarations use, API_AVAILABLE(macos(major.minor)). A call to
// an annotated API that is newer than the deployment target and not inside an
// `if (@available(...))` check is an error under -Werror
// (-Wunguarded-availability-new), as it is with the real SDK.
#pragma once

#define __API_AVAILABLE_PLATFORM_macos(version) macos, introduced = version
#define API_AVAILABLE(platform_version) __attribute__((availability(__API_AVAILABLE_PLATFORM_##platform_version)))
