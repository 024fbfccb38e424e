#include "app/shell/CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include "app/shell/AppConfig.h"
#include "app/shell/FileNames.h"
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

LaunchRequest parseCommandLine(const std::vector<std::string>& rawArguments, const std::filesystem::path& workingDirectory) {
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
    // The parser reads the options from a decoded copy; the files keep their bytes.
    QStringList args;
    for (const std::string& a : rawArguments) args << QString::fromUtf8(a.data(), static_cast<qsizetype>(a.size()));
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
    // The positional arguments in the raw list: whatever is no option, and everything after "--"
    // (the parser has refused every unknown option, and none of ours takes a value).
    std::vector<std::string> positional;
    bool rest = false;
    for (std::size_t i = 1; i < rawArguments.size(); ++i) {
        const std::string& a = rawArguments[i];
        if (rest) positional.push_back(a);
        else if (a == "--") rest = true;
        else if (a.size() > 1 && a.front() == '-') continue;
        else positional.push_back(a);
    }
    for (const std::string& file : positional) {
        if (file.empty()) continue;
        if (const auto local = FileNames::fromFileUri(QByteArray::fromStdString(file))) {
            request.files.push_back(local->lexically_normal());
            continue;
        }
        std::filesystem::path p(file);
        if (p.is_relative()) p = workingDirectory / p;
        p = p.lexically_normal();
        // A trailing separator names the same file (as the old cleanPath gave it).
        if (p.has_parent_path() && p.filename().empty()) p = p.parent_path();
        request.files.push_back(p);
    }
    return request;
}

}  // namespace tessoral
