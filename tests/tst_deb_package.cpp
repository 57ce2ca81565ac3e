// SPDX-License-Identifier: GPL-3.0-or-later
// The Debian package of this build: cpack, into a temporary folder, makes
// tavrin_<version>_<arch>.deb. It holds the executables, the desktop entry, the icons and the
// metainfo under /usr and nothing elsewhere, and it depends on the Qt libraries the executables
// link (found by dpkg-shlibdeps) and on the QML modules that the scene imports at run time.

#include "support/ToolRun.h"

#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>

namespace {

constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};
const QString kApplications = QStringLiteral("./usr/share/applications/");

// The fields of a control file; continuation lines are joined to their field.
QHash<QString, QString> parseControl(const QString& text) {
    QHash<QString, QString> fields;
    QString current;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1Char(' ')) && !current.isEmpty()) {
            fields[current] += QLatin1Char('\n') + line.trimmed();
            continue;
        }
        const int colon = line.indexOf(QLatin1Char(':'));
        if (colon <= 0)
            continue;
        current = line.left(colon);
        fields.insert(current, line.mid(colon + 1).trimmed());
    }
    return fields;
}

// The package names in a Depends field, alternatives included, without their versions.
QSet<QString> dependencyNames(const QString& depends) {
    QSet<QString> names;
    static const QRegularExpression separator(QStringLiteral("[,|]"));
    for (const QString& relation : depends.split(separator, Qt::SkipEmptyParts)) {
        const QString name = relation.trimmed().section(QLatin1Char(' '), 0, 0);
        if (!name.isEmpty())
            names.insert(name.section(QLatin1Char(':'), 0, 0));
    }
    return names;
}

} // namespace

class DebPackageTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_output;
    QString m_architecture;
    QString m_package;
    QStringList m_paths; // as dpkg-deb lists them: "./usr/bin/tavrin"
    QHash<QString, QString> m_control;
    QString m_appId; // from the name of the package's desktop entry

private slots:
    void initTestCase() {
        QVERIFY(m_output.isValid());
        const ToolRun architecture =
            runTool(QStringLiteral("dpkg"), {QStringLiteral("--print-architecture")});
        QVERIFY(architecture.succeeded());
        m_architecture = architecture.output.trimmed();

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("DESTDIR"));
        const ToolRun pack = runTool(
            QStringLiteral(TAVRIN_CPACK),
            {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("-B"), m_output.path(),
             QStringLiteral("--config"), QStringLiteral(TAVRIN_BUILD_DIR "/CPackConfig.cmake")},
            environment, 120000);
        QVERIFY(pack.succeeded());
        m_package = m_output.filePath(
            QStringLiteral("tavrin_%1_%2.deb").arg(QStringLiteral(TAVRIN_VERSION), m_architecture));
        QVERIFY2(QFileInfo::exists(m_package), qPrintable(m_package + " was not made"));

        const ToolRun contents =
            runTool(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), m_package});
        QVERIFY(contents.succeeded());
        // "-rwxr-xr-x root/root 123 2026-01-01 12:00 ./usr/bin/tavrin": the path is the 6th field.
        for (const QString& line : contents.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const QStringList fields = line.simplified().split(QLatin1Char(' '));
            QVERIFY2(fields.size() >= 6, qPrintable(line));
            m_paths.append(fields.at(5));
        }

        const ToolRun control =
            runTool(QStringLiteral("dpkg-deb"),
                    {QStringLiteral("-I"), m_package, QStringLiteral("control")});
        QVERIFY(control.succeeded());
        m_control = parseControl(control.output);

        for (const QString& path : qAsConst(m_paths)) {
            if (path.startsWith(kApplications) && path.endsWith(QLatin1String(".desktop")))
                m_appId = path.mid(kApplications.size()).chopped(int(qstrlen(".desktop")));
        }
    }

    void holdsOneDesktopEntry() {
        const int entries =
            int(std::count_if(m_paths.cbegin(), m_paths.cend(), [](const QString& p) {
                return p.startsWith(kApplications) && p != kApplications;
            }));
        QCOMPARE(entries, 1);
        QVERIFY(!m_appId.isEmpty());
    }

    void holdsEachFile_data() {
        QTest::addColumn<QString>("path");
        QStringList expected{
            QStringLiteral("./usr/bin/tavrin"),
            QStringLiteral("./usr/bin/tavrin-phone-sim"),
            kApplications + m_appId + QStringLiteral(".desktop"),
            QStringLiteral("./usr/share/metainfo/") + m_appId + QStringLiteral(".metainfo.xml"),
            QStringLiteral("./usr/share/icons/hicolor/scalable/apps/") + m_appId +
                QStringLiteral(".svg"),
        };
        for (int size : kIconSizes)
            expected.append(QStringLiteral("./usr/share/icons/hicolor/%1x%1/apps/").arg(size) +
                            m_appId + QStringLiteral(".png"));
        for (const QString& path : expected)
            QTest::newRow(qPrintable(path)) << path;
    }

    void holdsEachFile() {
        QFETCH(QString, path);
        QVERIFY2(m_paths.contains(path),
                 qPrintable(path + QStringLiteral(" is not in the package")));
    }

    void holdsNothingOutsideUsr() {
        for (const QString& path : qAsConst(m_paths)) {
            QVERIFY2(path == QLatin1String("./") || path.startsWith(QLatin1String("./usr/")),
                     qPrintable(path));
        }
    }

    void controlField_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("value");
        QTest::newRow("Package") << "Package"
                                 << "tavrin";
        QTest::newRow("Version") << "Version" << TAVRIN_VERSION;
        QTest::newRow("Architecture") << "Architecture" << m_architecture;
        QTest::newRow("Maintainer") << "Maintainer"
                                    << "Tavrin <dev@tavrin.example>";
        QTest::newRow("Section") << "Section"
                                 << "editors";
        QTest::newRow("Homepage") << "Homepage"
                                  << "https://" TAVRIN_WEB_HOST "/";
    }

    void controlField() {
        QFETCH(QString, field);
        QFETCH(QString, value);
        QCOMPARE(m_control.value(field), value);
    }

    void hasADescription() {
        const QString description = m_control.value(QStringLiteral("Description"));
        // A synopsis line, then the long description on continuation lines.
        QVERIFY2(description.contains(QLatin1Char('\n')), qPrintable(description));
        QVERIFY(description.section(QLatin1Char('\n'), 1).contains(QLatin1String("phone")));
    }

    void dependsOn_data() {
        QTest::addColumn<QString>("package");
        // What dpkg-shlibdeps finds in the executables (Qt Quick itself comes with the QML
        // modules: the executables do not link it)...
        for (const char* library : {"libc6", "libstdc++6", "libqt5core5a", "libqt5gui5",
                                    "libqt5widgets5", "libqt5network5", "libqt5qml5", "libcurl4"})
            QTest::newRow(library) << library;
        // ...and what the scene loads by its imports.
        for (const char* module :
             {"qml-module-qtqml", "qml-module-qtquick2", "qml-module-qtquick-window2",
              "qml-module-qtquick-controls2", "qml-module-qtquick-templates2",
              "qml-module-qt-labs-platform"})
            QTest::newRow(module) << module;
    }

    void dependsOn() {
        QFETCH(QString, package);
        const QString depends = m_control.value(QStringLiteral("Depends"));
        QVERIFY2(dependencyNames(depends).contains(package), qPrintable(depends));
    }

    // Qt's translations, which the program loads for the platform dialogs.
    void recommendsQtTranslations() {
        const QString recommends = m_control.value(QStringLiteral("Recommends"));
        QVERIFY2(dependencyNames(recommends).contains(QStringLiteral("qttranslations5-l10n")),
                 qPrintable(recommends));
    }
};

QTEST_GUILESS_MAIN(DebPackageTest)

#include "tst_deb_package.moc"
