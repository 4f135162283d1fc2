#include <foundation/log/basic_diagnostic_logger.h>
#include <foundation/log/configuration.h>

#include <boost/core/null_deleter.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/date_time/posix_time/time_formatters.hpp>
#include <boost/log/attributes/value_extraction.hpp>
#include <boost/log/expressions/message.hpp>
#include <boost/log/sinks/basic_sink_backend.hpp>
#include <boost/log/sinks/sync_frontend.hpp>
#include <boost/log/sinks/text_ostream_backend.hpp>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>

#include "configuration_internal.h"
#include "record_format.h"

namespace foundation::log {
namespace {

namespace sinks = boost::log::sinks;
using text_sink = sinks::synchronous_sink<sinks::text_ostream_backend>;

struct configuration {
    std::atomic<severity_type> mask{default_severity_mask};
    std::mutex mutex; // guards the sink handles below
    boost::shared_ptr<text_sink> console;
    std::map<std::string, boost::shared_ptr<text_sink>> files;
    std::string environment_file; // the file sink QB_LOG_FILE added, if any
};

// Deliberately never destroyed: loggers of other libraries may still write while this library's
// static objects are torn down at process exit.
configuration& config() {
    static configuration* instance = new configuration();
    return *instance;
}

std::once_flag environment_read;

boost::shared_ptr<text_sink> make_text_sink(boost::shared_ptr<std::ostream> stream) {
    auto backend = boost::make_shared<sinks::text_ostream_backend>();
    backend->add_stream(std::move(stream));
    backend->auto_flush(true);
    auto sink = boost::make_shared<text_sink>(backend);
    sink->set_formatter(&detail::format_record);
    return sink;
}

std::string trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// add_file_sink without the environment check (which itself adds the QB_LOG_FILE sink).
bool add_file_sink_unconfigured(const std::string& file) {
    configuration& c = config();
    std::lock_guard<std::mutex> lock(c.mutex);
    if (c.files.count(file) != 0) {
        return false;
    }
    auto stream = boost::make_shared<std::ofstream>(file, std::ios::out | std::ios::app);
    if (!stream->is_open()) {
        throw std::runtime_error("cannot open log file \"" + file + "\" for appending");
    }
    auto sink = make_text_sink(stream);
    boost::log::core::get()->add_sink(sink);
    c.files.emplace(file, sink);
    return true;
}

std::string apply_environment() {
    std::string warnings;
    configuration& c = config();

    const char* mask_text = std::getenv("QB_LOG_MASK");
    if (mask_text == nullptr || trim(mask_text).empty()) {
        c.mask.store(default_severity_mask);
    } else if (auto mask = parse_severity_mask(mask_text)) {
        c.mask.store(*mask);
    } else {
        c.mask.store(default_severity_mask);
        char default_text[16];
        std::snprintf(default_text, sizeof default_text, "0x%08X", default_severity_mask);
        warnings += std::string("foundation::log: ignoring malformed QB_LOG_MASK value \"") +
                    mask_text + "\" (expected a 32-bit decimal or 0x hexadecimal number); " +
                    "using the default mask " + default_text + "\n";
    }

    const char* file = std::getenv("QB_LOG_FILE");
    std::string wanted = file == nullptr ? std::string() : std::string(file);
    std::string previous;
    {
        std::lock_guard<std::mutex> lock(c.mutex);
        previous = c.environment_file;
        c.environment_file.clear();
    }
    if (!previous.empty() && previous != wanted) {
        std::lock_guard<std::mutex> lock(c.mutex);
        if (auto it = c.files.find(previous); it != c.files.end()) {
            boost::log::core::get()->remove_sink(it->second);
            it->second->flush();
            c.files.erase(it);
        }
    }
    if (!wanted.empty()) {
        try {
            add_file_sink_unconfigured(wanted);
            std::lock_guard<std::mutex> lock(c.mutex);
            c.environment_file = wanted;
        } catch (const std::exception& error) {
            warnings += std::string("foundation::log: QB_LOG_FILE: ") + error.what() +
                        "; records are not written to a file\n";
        }
    }
    if (!warnings.empty()) {
        std::fputs(warnings.c_str(), stderr);
    }
    return warnings;
}

// Boost.Log prints to standard output while a core has no sink at all. A sink that takes
// nothing switches that off, so records go nowhere until a sink is asked for.
class discarding_backend : public sinks::basic_sink_backend<sinks::concurrent_feeding> {
public:
    void consume(const boost::log::record_view&) {}
};

void silence_fallback_output() {
    auto sink = boost::make_shared<sinks::synchronous_sink<discarding_backend>>();
    sink->set_filter([](const boost::log::attribute_value_set&) { return false; });
    boost::log::core::get()->add_sink(sink);
}

std::string configure_once() {
    silence_fallback_output();
    return apply_environment();
}

void ensure_configured() {
    std::call_once(environment_read, [] { configure_once(); });
}

} // namespace

namespace detail {

const boost::shared_ptr<boost::log::core>& configured_core() {
    ensure_configured();
    static const boost::shared_ptr<boost::log::core> core = boost::log::core::get();
    return core;
}

void format_record(const boost::log::record_view& rec, boost::log::formatting_ostream& strm) {
    if (auto time = boost::log::extract<boost::posix_time::ptime>(timestamp_attribute_name, rec)) {
        strm << boost::posix_time::to_iso_extended_string(*time) << "Z ";
    }
    if (auto severity = boost::log::extract<severity_type>(severity_attribute_name, rec)) {
        strm << '<' << *severity << "> ";
    }
    if (auto channel = boost::log::extract<std::string>(channel_attribute_name, rec)) {
        strm << *channel << ": ";
    }
    if (auto message = boost::log::extract<std::string>("Message", rec)) {
        const std::string& text = *message;
        if (!text.empty() && text.back() == '\n') {
            strm.write(text.data(), static_cast<std::streamsize>(text.size() - 1));
        } else {
            strm << text;
        }
    }
}

} // namespace detail

severity_type severity_mask() noexcept {
    ensure_configured();
    return config().mask.load(std::memory_order_relaxed);
}

void set_severity_mask(severity_type mask) noexcept {
    ensure_configured();
    config().mask.store(mask, std::memory_order_relaxed);
}

std::optional<severity_type> parse_severity_mask(const std::string& raw) {
    const std::string text = trim(raw);
    std::string digits = text;
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        digits = text.substr(2);
        base = 16;
    }
    if (digits.empty()) {
        return std::nullopt;
    }
    unsigned long long value = 0;
    for (char ch : digits) {
        int digit = -1;
        if (ch >= '0' && ch <= '9') {
            digit = ch - '0';
        } else if (base == 16 && ch >= 'a' && ch <= 'f') {
            digit = ch - 'a' + 10;
        } else if (base == 16 && ch >= 'A' && ch <= 'F') {
            digit = ch - 'A' + 10;
        }
        if (digit < 0) {
            return std::nullopt;
        }
        value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
        if (value > 0xFFFFFFFFull) {
            return std::nullopt;
        }
    }
    return static_cast<severity_type>(value);
}

std::string configure_from_environment() {
    std::string warnings;
    bool first = false;
    std::call_once(environment_read, [&] {
        first = true;
        warnings = configure_once();
    });
    return first ? warnings : apply_environment();
}

void add_console_sink() {
    ensure_configured();
    configuration& c = config();
    std::lock_guard<std::mutex> lock(c.mutex);
    if (c.console) {
        return;
    }
    c.console = make_text_sink(boost::shared_ptr<std::ostream>(&std::cerr, boost::null_deleter()));
    boost::log::core::get()->add_sink(c.console);
}

void remove_console_sink() {
    ensure_configured();
    configuration& c = config();
    std::lock_guard<std::mutex> lock(c.mutex);
    if (c.console) {
        boost::log::core::get()->remove_sink(c.console);
        c.console.reset();
    }
}

bool add_file_sink(const std::string& file) {
    ensure_configured();
    return add_file_sink_unconfigured(file);
}

void remove_file_sinks() {
    ensure_configured();
    configuration& c = config();
    std::lock_guard<std::mutex> lock(c.mutex);
    for (auto& [name, sink] : c.files) {
        boost::log::core::get()->remove_sink(sink);
        sink->flush();
    }
    c.files.clear();
    c.environment_file.clear();
}

void flush() {
    boost::log::core::get()->flush();
}

} // namespace foundation::log
