#pragma once

#include <QString>

#include <stdexcept>

namespace pealix {

// Why a clip server could not start: the clip file could not be read, or no
// listening socket could be opened. `description()` is shown to the user after
// "Couldn't start the local audio server: ".
class ClipServerError : public std::runtime_error
{
public:
    explicit ClipServerError(const QString &description)
        : std::runtime_error(description.toStdString()), m_description(description)
    {
    }

    QString description() const { return m_description; }

private:
    QString m_description;
};

} // namespace pealix
