#include "control/ControlError.h"

#include <array>

namespace {

using Code = ControlError::Code;

constexpr std::array<std::pair<Code, const char*>, 12> codeNames{{
    {Code::Malformed, "malformed"},
    {Code::Version, "version"},
    {Code::UnknownCommand, "unknown-command"},
    {Code::TooLarge, "too-large"},
    {Code::InvalidArgument, "invalid-argument"},
    {Code::NoMatch, "no-match"},
    {Code::Ambiguous, "ambiguous"},
    {Code::NoClient, "no-client"},
    {Code::StartFailed, "start-failed"},
    {Code::Stopped, "stopped"},
    {Code::NotActive, "not-active"},
    {Code::Timeout, "timeout"},
}};

} // namespace

QString ControlError::nameOf(Code code) {
    for (const auto& [known, name] : codeNames) {
        if (known == code)
            return QString::fromLatin1(name);
    }
    return {};
}

std::optional<ControlError::Code> ControlError::codeNamed(QStringView name) {
    for (const auto& [code, known] : codeNames) {
        if (name == QLatin1String(known))
            return code;
    }
    return std::nullopt;
}
