#pragma once

// The grid's column layouts, one per database and table, kept in a JSON file
// of their own beside the login's settings file, which they never touch. A
// database is known by its login text with any password taken out and then
// hashed, so the file holds no password nor anything it could be read back
// from. The file is replaced whole on each save (written aside, then moved
// over), readable by its owner only. A file that cannot be read is as good as
// empty; one that cannot be written is ignored, as the settings are.

#include <QList>
#include <QPair>
#include <QString>

#include <optional>

struct ColumnLayout {
    QString name;
    int width = -1; // pixels; -1: as the grid fits it
    bool hidden = false;
};

struct TableLayout {
    QList<ColumnLayout> columns; // in their order on the screen
    int frozen = 0;              // places at the left kept while scrolling sideways
    QString sortColumn;          // empty: the table's order
    bool sortDescending = false;
    // The filter row's boxes by column name; the row shows when any is here.
    QList<QPair<QString, QString>> filters;
    bool filterRowShown = false;
};

class LayoutStore {
public:
    explicit LayoutStore(QString path);

    // "<folder>/<base name>-layouts.json" beside a settings file.
    static QString PathBeside(const QString& settingsFile);
    // The key a database is kept under: its login text without a password, hashed.
    static QString DatabaseKey(const QString& dataSource);

    std::optional<TableLayout> Load(const QString& database, const QString& table) const;
    // False when the file could not be written (the layout is then not kept).
    bool Save(const QString& database, const QString& table, const TableLayout& layout);
    bool Forget(const QString& database, const QString& table);

    const QString& Path() const { return path_; }

private:
    QString path_;
};
