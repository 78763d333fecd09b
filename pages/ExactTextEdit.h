#pragma once

// A multi-line text box that gives back exactly the text put into it. The
// box itself knows one kind of line break, so each line's own ending (LF,
// CR LF, a lone CR or a paragraph separator) is kept with the line; lines
// the user adds end as most lines of the text did.

#include <QPlainTextEdit>

class ExactTextEdit : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit ExactTextEdit(QWidget* parent);

    void setExactText(const QString& text);
    QString exactText() const;

private:
    // How the lines end, in a block's user state.
    enum End { Lf, CrLf, Cr, Paragraph, Ends };
    End usualEnd_ = Lf;
};
