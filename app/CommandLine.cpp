#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>

#include "app/AppConfig.h"
#include "model/Localization.h"

namespace tessoral {

namespace {
// The help text names the program "tessoral", however it was started (without an application
// object the parser writes a placeholder, with one the path it was started by).
QString usage(const QCommandLineParser& parser) {
    QString text = parser.helpText();
    text.replace(QStringLiteral("<executable_name>"), QStringLiteral("tessoral"));
    if (QCoreApplication::instance() && !QCoreApplication::arguments().isEmpty()) {
        const QString started = QCoreApplication::arguments().constFirst() + QLatin1Char(' ');
        const qsizetype at = text.indexOf(started);
        if (at >= 0 && at < text.indexOf(QLatin1Char('\n'))) text.replace(at, started.size(), QStringLiteral("tessoral "));
    }
    return text;
}
}  // namespace

LaunchRequest parseCommandLine(const QStringList& arguments, const QString& workingDirectory) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromStdString(L("Tessoral — многодорожечный аудиоредактор")));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QString::fromStdString(L("Показать эту справку")));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QString::fromStdString(L("Показать версию")));
    const QCommandLineOption demo(QStringLiteral("demo"), QString::fromStdString(L("Открыть демо-проект")));
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption(demo);
    parser.addPositionalArgument(QStringLiteral("files"), QString::fromStdString(L("Аудиофайлы или проект")),
                                 QStringLiteral("[files…]"));

    LaunchRequest request;
    QStringList args = arguments;
    if (args.isEmpty()) args << QStringLiteral("tessoral");
    if (!parser.parse(args)) {
        request.action = LaunchRequest::Action::exit;
        request.exitCode = 2;
        request.errorOutput = parser.errorText() + QLatin1Char('\n') + usage(parser);
        return request;
    }
    if (parser.isSet(help)) {
        request.action = LaunchRequest::Action::exit;
        request.output = usage(parser);
        return request;
    }
    if (parser.isSet(version)) {
        request.action = LaunchRequest::Action::exit;
        request.output = QStringLiteral("Tessoral ") + AppConfig::version() + QLatin1Char('\n');
        return request;
    }
    request.demo = parser.isSet(demo);
    const QDir base(workingDirectory);
    for (const QString& file : parser.positionalArguments()) {
        if (file.isEmpty()) continue;
        request.files << QDir::cleanPath(base.absoluteFilePath(file));
    }
    return request;
}

}  // namespace tessoral
