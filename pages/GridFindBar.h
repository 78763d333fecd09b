#pragma once

// The find bar at the bottom of the grid's area: the text to find, Match
// Case, Whole Cell and This Column Only, Previous and Next, and a line that
// says "No match" or that the search wrapped around. Enter and F3 find the
// next cell, Shift+F3 the one before, Esc closes the bar. Opened for
// replacing, it has a line under the text to find: the replacement, Replace
// (Enter there) and Replace All. The grid does the finding and replacing;
// the bar only asks for it.

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

class GridFindBar : public QWidget {
    Q_OBJECT
public:
    explicit GridFindBar(QWidget* parent);

    QString text() const;
    bool matchCase() const;
    bool wholeCell() const;
    bool thisColumnOnly() const;

    // What the last search found: nothing to say, wrapped, or no match;
    // told to a screen reader each time, the same result again too.
    void showResult(const QString& result);
    // Shows the bar with the text box focused, all of it selected; with the
    // replace line or without it.
    void open(bool withReplace = false);
    QString replacement() const;
    bool replacing() const;

    QLineEdit* textBox() const { return text_; }
    QLabel* resultLabel() const { return result_; }
    QLineEdit* replaceBox() const { return replace_; }
    QPushButton* replaceButton() const { return replaceOne_; }
    QPushButton* replaceAllButton() const { return replaceAll_; }

signals:
    void findNext();
    void findPrevious();
    void closed();
    void replaceRequested();
    void replaceAllRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QLineEdit* text_ = nullptr;
    QCheckBox* matchCase_ = nullptr;
    QCheckBox* wholeCell_ = nullptr;
    QCheckBox* thisColumn_ = nullptr;
    QPushButton* previous_ = nullptr;
    QPushButton* next_ = nullptr;
    QPushButton* close_ = nullptr;
    QLabel* result_ = nullptr;
    QWidget* replaceLine_ = nullptr;
    QLineEdit* replace_ = nullptr;
    QPushButton* replaceOne_ = nullptr;
    QPushButton* replaceAll_ = nullptr;
};
