#pragma once
// The program's one error type: a number and a description, as the error report shows them.
// Routines throw it; only the trap of a trapped handler (and the event-loop boundary) catch it.

#include <QString>
#include <stdexcept>

namespace core {

class Error : public std::runtime_error
{
public:
    // Numbers the program raises.
    static constexpr int InvalidArgument =
        5; // "Invalid procedure call or argument", and save failures
    static constexpr int Overflow = 6;
    static constexpr int TypeMismatch = 13;

    Error(int number, const QString &description)
        : std::runtime_error(description.toStdString())
        , m_number(number)
        , m_description(description)
    {
    }

    int number() const { return m_number; }
    QString description() const { return m_description; }

private:
    int m_number;
    QString m_description;
};

} // namespace core
