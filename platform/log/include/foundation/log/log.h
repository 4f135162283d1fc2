#pragma once

#include <foundation/log/basic_diagnostic_logger.h>
#include <foundation/log/configuration.h>
#include <foundation/log/severity.h>
#include <foundation/log/write_record.h>
