#include "CommandLine.h"

#include <algorithm>
#include <exception>
#include <string_view>

namespace tripwire_host {

namespace {

// The common options that take a value in the next word; their value is no command.
bool takesValue(std::string_view word) {
    for (const std::string_view option : {"--mode", "--log-mask", "--log-file",
                                          "--first-folder-override", "--second-folder-override"}) {
        if (word == option) {
            return true;
        }
    }
    return false;
}

std::size_t editDistance(std::string_view a, std::string_view b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) {
        row[j] = j;
    }
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

std::string unknownCommandMessage(const std::string& word,
                                  const std::vector<std::string>& commands) {
    std::string message = "unknown command '" + word + "'";
    const std::string* closest = nullptr;
    std::size_t best = 3; // farther than two edits is no typing mistake
    for (const auto& command : commands) {
        const std::size_t distance = editDistance(word, command);
        if (distance < best) {
            best = distance;
            closest = &command;
        }
    }
    if (closest != nullptr) {
        return message + " (did you mean '" + *closest + "'?)";
    }
    return message + "; the commands are " + joinedNames(commands);
}

} // namespace

CommandLineScan scanCommandLine(const std::vector<std::string>& arguments,
                                const std::vector<std::string>& commands) {
    CommandLineScan scan;
    bool commandSeen = false;
    bool helpWanted = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& word = arguments[i];
        if (word == "--") {
            scan.arguments.insert(scan.arguments.end(), arguments.begin() + i, arguments.end());
            break;
        }
        scan.json = scan.json || word == "--json";
        if (!word.empty() && word[0] == '-') {
            scan.arguments.push_back(word);
            if (takesValue(word) && i + 1 < arguments.size()) {
                scan.arguments.push_back(arguments[++i]);
            }
            continue;
        }
        if (!commandSeen && !helpWanted && word == "help") {
            helpWanted = true;
            continue;
        }
        if (!commandSeen) {
            commandSeen = true;
            if (std::find(commands.begin(), commands.end(), word) == commands.end()) {
                scan.unknownCommand = unknownCommandMessage(word, commands);
            }
        }
        scan.arguments.push_back(word);
    }
    if (helpWanted) {
        scan.arguments.push_back("--help");
    }
    return scan;
}

std::string joinedNames(const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            text += i + 1 == names.size() ? " or " : ", ";
        }
        text += names[i];
    }
    return text;
}

const char* helpFooter() {
    return R"(Exit status:
  0    the good outcome (INSTALLED_AND_STARTED, true, INSTALLED, stopped, ...)
  1    any other outcome; the reason on standard error
  2    usage error
  3    the operation could not be carried out; the reason on standard error
  130  interrupted by SIGINT
  143  ended by SIGTERM

Environment:
  XDG_DATA_HOME            base of the user storage root (default ~/.local/share)
  QB_INSTALL_ROOT          the host installation root
  QB_RODUDED_OZOVIZAZ_INSTALL_SOURCES
                           directory searched for local installer archives
  QB_RODUDED_OZOVIZAZ_DOWNLOAD_LOCATION
                           working directory of every install attempt
  QB_URL_QUILLBECK_DOT_COM base URL of the latest-installer lookup
  QB_LOG_MASK, QB_LOG_FILE severity mask and file of the diagnostic log
  QB_FEATURE_FLAGS         feature flags that are on, comma-separated
  QB_TELEMETRY_DIR         where usage events are appended
  QB_HTTPCLIENT_STALL_SECONDS, QB_HTTPCLIENT_STALL_BYTES_PER_SECOND
                           when a slow download is abandoned
  QB_HTTPCLIENT_MAX_RESPONSE_BYTES
                           the most an answer kept in memory may hold
  QB_HTTPCLIENT_RETRIES, QB_HTTPCLIENT_RETRY_DELAY_MS
                           retries of a cut or stalled download, first wait
  QB_HTTPCLIENT_EXTRA_CA_FILE
                           PEM file of authorities trusted beside the system's
  QUILLBECK_SERVICE_HOST_MANAGED_INSTALL_ROOT
                           set: the service host is managed elsewhere
  https_proxy, http_proxy, all_proxy, no_proxy
                           proxy for downloads, handed to the installer)";
}

std::string currentExceptionMessage() {
    try {
        throw;
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "an unknown error";
    }
}

} // namespace tripwire_host
