#pragma once

#include <QString>
#include <QStringList>

class QCommandLineParser;

namespace tessaly::program {

// An option's name as it is typed: "-p" for "p", "--port" for "port".
QString optionSpelling(const QString& name);

// Qt's parser keeps every value of an option, but a program that reads one of them would drop
// the others without a word. The first option that was given more than one value although it is
// not named in `repeatable`, in a sentence without its period; empty when there is none.
QString repeatedOptionSentence(const QCommandLineParser& parser,
                               const QStringList& repeatable = {});

}  // namespace tessaly::program
