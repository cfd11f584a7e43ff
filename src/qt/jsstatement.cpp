#include "qt/jsstatement.h"

QString JsStatement::escapeForSingleQuotedLiteral(const QString& text)
{
    QString out;
    out.reserve(text.size() + 16);
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        case '\'': out += "\\'"; break;
        case 0x2028: out += "\\u2028"; break; // line terminators end a literal too
        case 0x2029: out += "\\u2029"; break;
        default:
            if (c.unicode() < 0x20)
                out += QString("\\u%1").arg(c.unicode(), 4, 16, QChar('0'));
            else
                out += c;
        }
    }
    return out;
}

QString JsStatement::handleMsgCall(const QString& message)
{
    return "handleMsgFromQt4('" + escapeForSingleQuotedLiteral(message) + "'); null";
}
