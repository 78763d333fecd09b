#include "pages/ExactTextEdit.h"

#include <QTextBlock>

#include <array>
#include <vector>

ExactTextEdit::ExactTextEdit(QWidget* parent) : QPlainTextEdit(parent) {}

void ExactTextEdit::setExactText(const QString& text)
{
    // The endings in their order, one a line break of the box.
    std::vector<End> ends;
    std::array<qsizetype, Ends> counts{};
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text[i];
        End end;
        if (ch == u'\n')
            end = Lf;
        else if (ch == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            end = CrLf, ++i;
        else if (ch == u'\r')
            end = Cr;
        else if (ch == QChar::ParagraphSeparator)
            end = Paragraph;
        else
            continue;
        ends.push_back(end);
        ++counts[end];
    }
    usualEnd_ = Lf;
    for (int e = Lf; e < Ends; ++e)
        if (counts[e] > counts[usualEnd_])
            usualEnd_ = static_cast<End>(e);

    setPlainText(text);
    // Only a text with more than one kind of ending needs them line by line.
    if (counts[usualEnd_] == static_cast<qsizetype>(ends.size()))
        return;
    std::size_t line = 0;
    for (QTextBlock b = document()->begin(); b.isValid() && line < ends.size(); b = b.next(), ++line)
        b.setUserState(ends[line]);
}

QString ExactTextEdit::exactText() const
{
    static const std::array<QString, Ends> kEnds{QStringLiteral("\n"), QStringLiteral("\r\n"), QStringLiteral("\r"),
                                                QString(QChar::ParagraphSeparator)};
    QString out;
    out.reserve(document()->characterCount());
    for (QTextBlock b = document()->begin(); b.isValid(); b = b.next()) {
        out += b.text();
        if (b.next().isValid()) {
            const int state = b.userState();
            out += kEnds[state >= 0 && state < Ends ? state : usualEnd_];
        }
    }
    return out;
}
