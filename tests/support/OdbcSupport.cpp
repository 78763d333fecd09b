#include "support/OdbcSupport.h"

#include "support/TestSupport.h"

#include <QFile>
#include <QTextStream>

namespace OdbcSupport {

std::string pgConnect()
{
    const auto login = TestSupport::pgLogin();
    return "DRIVER={PostgreSQL Unicode};SERVER=127.0.0.1;PORT=" + std::to_string(login ? login->port : 5432)
           + ";DATABASE=dervanta";
}

LoginParts pgLogin()
{
    const auto login = TestSupport::pgLogin();
    if (!login)
        return {};
    return LoginParts{{}, login->user.toStdString(), login->password.toStdString()};
}

std::string sqliteConnect(const QString& path) { return "DRIVER=SQLite3;Database=" + path.toStdString(); }

QString difference(const Snapshot& a, const Snapshot& b)
{
    if (a.columnCount() != b.columnCount())
        return QStringLiteral("%1 columns against %2").arg(a.columnCount()).arg(b.columnCount());
    for (int c = 0; c < a.columnCount(); ++c) {
        const ColumnInfo& x = a.columns()[static_cast<std::size_t>(c)];
        const ColumnInfo& y = b.columns()[static_cast<std::size_t>(c)];
        if (x.name != y.name || x.type != y.type || x.typeName != y.typeName || x.nativeType != y.nativeType
            || x.readOnly != y.readOnly || x.comparable != y.comparable)
            return QStringLiteral("column %1 (%2) is described differently").arg(c).arg(QString::fromStdString(x.name));
    }
    if (a.rowCount() != b.rowCount())
        return QStringLiteral("%1 rows against %2").arg(a.rowCount()).arg(b.rowCount());
    for (std::int64_t r = 0; r < a.rowCount(); ++r)
        for (int c = 0; c < a.columnCount(); ++c)
            if (a.kind(r, c) != b.kind(r, c) || a.value(r, c) != b.value(r, c))
                return QStringLiteral("row %1 column %2: \"%3\" (kind %4) against \"%5\" (kind %6)")
                    .arg(r)
                    .arg(c)
                    .arg(QString::fromUtf8(a.value(r, c).data(), qsizetype(std::min<std::size_t>(a.value(r, c).size(), 80))))
                    .arg(int(a.kind(r, c)))
                    .arg(QString::fromUtf8(b.value(r, c).data(), qsizetype(std::min<std::size_t>(b.value(r, c).size(), 80))))
                    .arg(int(b.kind(r, c)));
    return {};
}

DriverList::DriverList()
{
    if (!dir_.isValid())
        return;
    qputenv("ODBCSYSINI", dir_.path().toLocal8Bit());
    qputenv("ODBCINSTINI", "odbcinst.ini");
    QFile odbcIni(dir_.filePath(QStringLiteral("odbc.ini")));
    odbcIni.open(QIODevice::WriteOnly);
    write({});
}

void DriverList::write(const std::vector<std::pair<std::string, std::string>>& drivers) const
{
    QFile file(dir_.filePath(QStringLiteral("odbcinst.ini")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    QTextStream out(&file);
    for (const auto& [name, library] : drivers)
        out << '[' << QString::fromStdString(name) << "]\nDescription=" << QString::fromStdString(name)
            << "\nDriver=" << QString::fromStdString(library) << "\n\n";
}

} // namespace OdbcSupport
