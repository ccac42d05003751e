#pragma once

// Launch at login lives with Settings, below the application and onboarding, which both use it.
#include "settings/LaunchAtLoginController.h"
