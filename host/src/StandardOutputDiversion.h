#pragma once

namespace tripwire_host {

// While it lives, whatever is written to the process's standard output (by this process or by
// the programs it starts, such as an installer) goes to standard error instead, so that standard
// output carries nothing but the result. Restored, flushed, when it goes. Does nothing when the
// descriptors cannot be duplicated.
class StandardOutputDiversion {
public:
    StandardOutputDiversion();
    ~StandardOutputDiversion();
    StandardOutputDiversion(const StandardOutputDiversion&) = delete;
    StandardOutputDiversion& operator=(const StandardOutputDiversion&) = delete;

private:
    int savedOutput = -1;
};

} // namespace tripwire_host
