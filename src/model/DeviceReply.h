#pragma once

#include <QString>

namespace pealix {

// What a speaker said to the command that should make it play a clip. Nothing
// here is inferred: "accepted" means the device answered yes in its own
// protocol, "refused" carries the device's own word for no.
struct DeviceReply
{
    enum class Kind { Accepted, NoAnswer, Refused };

    Kind kind = Kind::NoAnswer;
    // For a refusal: the UPnP error code ("714") or the Cast message type
    // ("LOAD_FAILED"); empty when the device gave none.
    QString code;

    static DeviceReply accepted() { return {Kind::Accepted, {}}; }
    static DeviceReply noAnswer() { return {Kind::NoAnswer, {}}; }
    static DeviceReply refused(QString code) { return {Kind::Refused, std::move(code)}; }

    friend bool operator==(const DeviceReply &, const DeviceReply &) = default;
};

} // namespace pealix
