#include "program/OptionValues.h"

#include <QCommandLineParser>

namespace tessaly::program {

QString optionSpelling(const QString& name) {
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

QString repeatedOptionSentence(const QCommandLineParser& parser, const QStringList& repeatable) {
    for (const QString& name : parser.optionNames()) {
        const QStringList values = parser.values(name);
        if (values.size() < 2 || repeatable.contains(name)) continue;
        return QStringLiteral("%1 takes one value, but was given %2: \"%3\"")
            .arg(optionSpelling(name))
            .arg(values.size())
            .arg(values.join(QStringLiteral("\", \"")));
    }
    return {};
}

}  // namespace tessaly::program
