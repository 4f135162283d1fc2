#pragma once

namespace telx {

/// How one event is delivered.
class TelxOption {
public:
    constexpr TelxOption() noexcept = default;

    /// When set, logging an event returns only after the event has reached the storage device
    /// (fdatasync). Off by default: the event is in the file, and so visible to every reader,
    /// as soon as the call returns.
    void setDurable(bool durable) noexcept { this->durable = durable; }
    bool isDurable() const noexcept { return durable; }

    /// The options every caller may share.
    static const TelxOption defaultOption;

private:
    bool durable = false;
};

} // namespace telx
