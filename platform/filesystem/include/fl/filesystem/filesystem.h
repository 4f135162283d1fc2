#pragma once

#include <fl/filesystem/basic_path.h>
#include <fl/filesystem/detail/native_form.h>
#include <fl/filesystem/directory_iterator.h>
#include <fl/filesystem/file_status.h>
#include <fl/filesystem/filesystem_error.h>
#include <fl/filesystem/operations.h>
#include <fl/filesystem/path_conversion.h>
