// SPDX-License-Identifier: GPL-3.0-or-later
// Installing this build: `cmake --install` into a staging folder, once with --prefix and once
// through DESTDIR, lays out both executables, the desktop entry, the icon theme's sizes and the
// AppStream metainfo, all named by the desktop id that the running program reports; the desktop
// entry and the metainfo pass their validators.

#include "app/Startup.h"
#include "support/ToolRun.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHash>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <QTimer>
#include <QXmlStreamReader>
#include <algorithm>
#include <cstring>

namespace {

constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

// The id "example.tavrin.Tavrin" is reverse-DNS, but "example" is no top-level domain that
// appstreamcli knows, so it notes that the id may not be one. Only that note is let through;
// any other note, warning or error fails (--strict).
const QStringList kAppstreamOptions{QStringLiteral("--no-net"), QStringLiteral("--strict"),
                                    QStringLiteral("--override=cid-maybe-not-rdns=pedantic")};

// Child side: start the program on an empty scene and report the identity it gave itself.
int reportIdentity(char* program, const char* scenePath) {
    int argc = 1;
    char* argv[] = {program, nullptr};
    return tavrin::runApplication(
        argc, argv, QUrl::fromLocalFile(QString::fromLocal8Bit(scenePath)),
        [](QQmlApplicationEngine&) {
            QTextStream(stdout) << "desktop-file-name=" << QGuiApplication::desktopFileName()
                                << "\norganization-domain="
                                << QCoreApplication::organizationDomain() << Qt::endl;
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        });
}

QString valueAfter(const QString& output, const QString& key) {
    for (const QString& line : output.split(QLatin1Char('\n'))) {
        if (line.startsWith(key + QLatin1Char('=')))
            return line.mid(key.size() + 1).trimmed();
    }
    return {};
}

QString reversedDomain(const QString& domain) {
    QStringList labels = domain.split(QLatin1Char('.'));
    std::reverse(labels.begin(), labels.end());
    return labels.join(QLatin1Char('.'));
}

// The keys of the [Desktop Entry] group.
QHash<QString, QString> readDesktopEntry(const QString& path) {
    QHash<QString, QString> keys;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return keys;
    bool inMainGroup = false;
    for (const QString& line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        const int equals = line.indexOf(QLatin1Char('='));
        if (inMainGroup && equals > 0)
            keys.insert(line.left(equals).trimmed(), line.mid(equals + 1).trimmed());
    }
    return keys;
}

} // namespace

class InstallLayoutTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_staging;
    QString m_appId;
    QString m_organizationDomain;
    QString m_prefixRoot;  // installed with --prefix
    QString m_destdirRoot; // installed with DESTDIR and an absolute prefix
    QString m_untouchedPrefix;

    QString desktopEntryPath() const {
        return m_prefixRoot + QStringLiteral("/share/applications/") + m_appId +
               QStringLiteral(".desktop");
    }
    QString metainfoPath() const {
        return m_prefixRoot + QStringLiteral("/share/metainfo/") + m_appId +
               QStringLiteral(".metainfo.xml");
    }
    QString pngIconPath(const QString& root, int size) const {
        return root + QStringLiteral("/share/icons/hicolor/%1x%1/apps/").arg(size) + m_appId +
               QStringLiteral(".png");
    }
    QList<QPair<QString, QString>> roots() const {
        return {{QStringLiteral("prefix"), m_prefixRoot},
                {QStringLiteral("DESTDIR"), m_destdirRoot}};
    }

    ToolRun install(const QString& prefix, const QString& destdir) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("DESTDIR"));
        if (!destdir.isEmpty())
            environment.insert(QStringLiteral("DESTDIR"), destdir);
        return runTool(QStringLiteral(TAVRIN_CMAKE),
                       {QStringLiteral("--install"), QStringLiteral(TAVRIN_BUILD_DIR),
                        QStringLiteral("--prefix"), prefix},
                       environment);
    }

private slots:
    void initTestCase() {
        QVERIFY(m_staging.isValid());

        const QString scene = m_staging.filePath(QStringLiteral("empty.qml"));
        QFile sceneFile(scene);
        QVERIFY(sceneFile.open(QIODevice::WriteOnly));
        sceneFile.write("import QtQml 2.15\nQtObject {}\n");
        sceneFile.close();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_staging.filePath("config"));
        const ToolRun identity = runTool(QCoreApplication::applicationFilePath(),
                                         {QStringLiteral("--report-identity"), scene}, environment);
        QVERIFY(identity.succeeded());
        m_appId = valueAfter(identity.output, QStringLiteral("desktop-file-name"));
        m_organizationDomain = valueAfter(identity.output, QStringLiteral("organization-domain"));
        QVERIFY2(!m_appId.isEmpty(), "the program sets no desktop file name");

        m_prefixRoot = m_staging.filePath(QStringLiteral("prefix"));
        QVERIFY(install(m_prefixRoot, {}).succeeded());

        // If an install rule ignored DESTDIR, its file would land in the prefix itself: one
        // inside the staging folder, so that such a fault stays in there.
        const QString destdir = m_staging.filePath(QStringLiteral("destdir"));
        m_untouchedPrefix = m_staging.filePath(QStringLiteral("usr"));
        QVERIFY(install(m_untouchedPrefix, destdir).succeeded());
        m_destdirRoot = destdir + m_untouchedPrefix;
    }

    void desktopIdIsTheReversedOrganizationDomain() {
        QCOMPARE(m_appId, reversedDomain(m_organizationDomain) + QLatin1Char('.') +
                              QStringLiteral(TAVRIN_PROJECT_NAME));
    }

    void installsEachFile_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("executable");
        QList<QPair<QString, bool>> files{
            {QStringLiteral("bin/tavrin"), true},
            {QStringLiteral("bin/tavrin-phone-sim"), true},
            {QStringLiteral("share/applications/%1.desktop"), false},
            {QStringLiteral("share/metainfo/%1.metainfo.xml"), false},
            {QStringLiteral("share/icons/hicolor/scalable/apps/%1.svg"), false},
        };
        for (int size : kIconSizes)
            files.append({QStringLiteral("share/icons/hicolor/%1x%1/apps/").arg(size) +
                              QStringLiteral("%1.png"),
                          false});
        for (const auto& [kind, root] : roots()) {
            for (const auto& [pattern, executable] : files) {
                const QString relative =
                    pattern.contains(QLatin1String("%1")) ? pattern.arg(m_appId) : pattern;
                QTest::newRow(qPrintable(kind + QStringLiteral(": ") + relative))
                    << root + QLatin1Char('/') + relative << executable;
            }
        }
    }

    void installsEachFile() {
        QFETCH(QString, path);
        QFETCH(bool, executable);
        const QFileInfo info(path);
        QVERIFY2(info.isFile(), qPrintable(path + QStringLiteral(" is missing")));
        QVERIFY(info.size() > 0);
        QCOMPARE(info.isExecutable(), executable);
    }

    void destdirLeavesThePrefixUntouched() {
        QVERIFY2(!QFileInfo::exists(m_untouchedPrefix),
                 "an install rule wrote past DESTDIR into the prefix itself");
    }

    void pngIconsAreRenderedAtTheirSize_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("size");
        for (int size : kIconSizes)
            QTest::newRow(qPrintable(QStringLiteral("%1x%1").arg(size)))
                << pngIconPath(m_prefixRoot, size) << size;
    }

    void pngIconsAreRenderedAtTheirSize() {
        QFETCH(QString, path);
        QFETCH(int, size);
        const QImage image(path);
        QVERIFY2(!image.isNull(), qPrintable(path));
        QCOMPARE(image.size(), QSize(size, size));
        QVERIFY(image.hasAlphaChannel());
        // The drawing fills most of the square and leaves its corners clear.
        QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
        int opaque = 0;
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x)
                opaque += qAlpha(image.pixel(x, y)) > 127 ? 1 : 0;
        }
        const double covered = double(opaque) / (size * size);
        QVERIFY2(covered > 0.4 && covered < 0.9, qPrintable(QString::number(covered)));
    }

    void desktopEntryValidates() {
        const ToolRun run = runTool(QStringLiteral("desktop-file-validate"), {desktopEntryPath()});
        QCOMPARE(run.exitCode, 0);
        // Not even a hint.
        QCOMPARE(run.output.trimmed(), QString());
    }

    void desktopEntryStartsTheInstalledProgram() {
        const QHash<QString, QString> entry = readDesktopEntry(desktopEntryPath());
        QCOMPARE(entry.value(QStringLiteral("Type")), QStringLiteral("Application"));
        QCOMPARE(entry.value(QStringLiteral("Icon")), m_appId);
        QCOMPARE(entry.value(QStringLiteral("Terminal")), QStringLiteral("false"));
        const QString program = entry.value(QStringLiteral("Exec")).section(QLatin1Char(' '), 0, 0);
        QVERIFY(!program.isEmpty());
        QVERIFY2(QFileInfo(m_prefixRoot + QStringLiteral("/bin/") + program).isExecutable(),
                 qPrintable(program));
        // On X11 the window's class is the application name, which is the executable's name.
        QCOMPARE(entry.value(QStringLiteral("StartupWMClass")), program);
    }

    void appstreamAcceptsTheInstall_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("metainfo file") << (QStringList{QStringLiteral("validate")} +
                                           kAppstreamOptions + QStringList{metainfoPath()});
        QTest::newRow("installed tree") << (QStringList{QStringLiteral("validate-tree")} +
                                            kAppstreamOptions + QStringList{m_prefixRoot});
    }

    void appstreamAcceptsTheInstall() {
        QFETCH(QStringList, arguments);
        const ToolRun run = runTool(QStringLiteral("appstreamcli"), arguments);
        QCOMPARE(run.exitCode, 0);
    }

    void metainfoDescribesThisRelease() {
        QFile file(metainfoPath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&file);
        QString id, launchable, release, binary;
        QStringList path;
        while (!xml.atEnd()) {
            const QXmlStreamReader::TokenType token = xml.readNext();
            if (token == QXmlStreamReader::EndElement) {
                path.removeLast();
                continue;
            }
            if (token != QXmlStreamReader::StartElement)
                continue;
            path.append(xml.name().toString());
            const QString where = path.join(QLatin1Char('/'));
            if (where == QLatin1String("component/id"))
                id = xml.readElementText();
            else if (where == QLatin1String("component/launchable") &&
                     xml.attributes().value(QLatin1String("type")) == QLatin1String("desktop-id"))
                launchable = xml.readElementText();
            else if (where == QLatin1String("component/provides/binary"))
                binary = xml.readElementText();
            else if (where == QLatin1String("component/releases/release") && release.isEmpty())
                release = xml.attributes().value(QLatin1String("version")).toString();
            else
                continue;
            if (xml.tokenType() == QXmlStreamReader::EndElement)
                path.removeLast(); // readElementText() consumed the end of the element
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QCOMPARE(id, m_appId);
        QCOMPARE(launchable, m_appId + QStringLiteral(".desktop"));
        QCOMPARE(release, QStringLiteral(TAVRIN_VERSION));
        QVERIFY2(QFileInfo(m_prefixRoot + QStringLiteral("/bin/") + binary).isExecutable(),
                 qPrintable(binary));
    }
};

int main(int argc, char** argv) {
    if (argc > 2 && std::strcmp(argv[1], "--report-identity") == 0)
        return reportIdentity(argv[0], argv[2]);
    QCoreApplication app(argc, argv);
    InstallLayoutTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_install_layout.moc"
