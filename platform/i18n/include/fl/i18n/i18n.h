#pragma once

#include <fl/i18n/conversion.h>
#include <fl/i18n/conversion_error.h>
#include <fl/i18n/environment.h>
#include <fl/i18n/ustring.h>
