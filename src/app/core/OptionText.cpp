#include "OptionText.h"

#include "core/Error.h"

namespace app {

namespace {

// A decimal number: blanks around it allowed, an optional sign, digits with an optional
// fraction, an optional exponent. Sets isZero when its value is zero. The value itself is
// never computed, so any number of digits is fine.
bool readDecimal(const QString &text, bool &isZero)
{
    const QString t = text.trimmed();
    qsizetype i = 0;
    const qsizetype n = t.size();
    if (i < n && (t[i] == u'+' || t[i] == u'-'))
        ++i;
    bool anyDigit = false;
    isZero = true;
    auto digits = [&] {
        while (i < n && t[i] >= u'0' && t[i] <= u'9') {
            anyDigit = true;
            if (t[i] != u'0')
                isZero = false;
            ++i;
        }
    };
    digits();
    if (i < n && t[i] == u'.') {
        ++i;
        digits();
    }
    if (!anyDigit)
        return false;
    if (i < n && (t[i] == u'e' || t[i] == u'E')) {
        ++i;
        if (i < n && (t[i] == u'+' || t[i] == u'-'))
            ++i;
        const qsizetype expStart = i;
        while (i < n && t[i] >= u'0' && t[i] <= u'9')
            ++i;
        if (i == expStart)
            return false;
    }
    return i == n;
}

} // namespace

QString OptionText(bool on)
{
    return on ? QStringLiteral("True") : QStringLiteral("False");
}

bool OptionValue(const QString &text)
{
    if (text.compare(u"True", Qt::CaseInsensitive) == 0)
        return true;
    if (text.compare(u"False", Qt::CaseInsensitive) == 0)
        return false;
    bool isZero = true;
    if (readDecimal(text, isZero))
        return !isZero;
    throw core::Error(core::Error::TypeMismatch, QStringLiteral("Type mismatch"));
}

} // namespace app
