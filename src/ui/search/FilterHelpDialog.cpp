#include "ui/search/FilterHelpDialog.h"

#include <QApplication>
#include <QFont>
#include <QHBoxLayout>
#include <QPushButton>
#include <QSpacerItem>
#include <QStringList>
#include <QTextEdit>
#include <QVBoxLayout>

FilterHelpDialog* filterHelpDialog = nullptr;

namespace
{
QString Tr(char const* ip_text)
{
    return QApplication::translate("FilterHelpDialog", ip_text);
}

QString Bold(char const* ip_text)
{
    return QStringLiteral("<span style=\" font-weight:600;\">%1</span>").arg(Tr(ip_text));
}

QString Italic(char const* ip_text)
{
    return QStringLiteral("<span style=\" font-style:italic;\">%1</span>").arg(Tr(ip_text));
}

// One keyword line: the name in bold, for keywords with a value ":number", then the text.
QString Keyword(char const* ip_name, bool i_hasValue, QString const& i_text)
{
    return Bold(ip_name) + (i_hasValue ? QStringLiteral(":") + Italic("number") : QString()) +
           QStringLiteral(" - ") + i_text;
}

// The help page as rich text: paragraphs in "MS Shell Dlg 2" without margins, each
// followed by an empty one except the keyword lines, which follow one another.
QString HelpText()
{
    QString const l_paragraph = QStringLiteral(
        "<p style=\" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; "
        "-qt-block-indent:0; text-indent:0px;\"><span style=\" font-family:'MS Shell Dlg 2'; "
        "font-size:12pt;\">%1</span></p>\n");
    QString const l_empty = QStringLiteral(
        "<p style=\"-qt-paragraph-type:empty; margin-top:0px; margin-bottom:0px; margin-left:0px; "
        "margin-right:0px; -qt-block-indent:0; text-indent:0px; font-family:'MS Shell Dlg 2'; "
        "font-size:12pt;\"><br /></p>\n");
    QString const l_number = Italic("number");

    QStringList const l_spaced = {
        Tr("Enter words into the filter box to only show combinations of folders and files that "
           "contain those words. For example entering:"),
        Tr("lackluster container"),
        Tr("into the filter box will only show files that either contain both those words "
           "(considering the folder they are in as well.)"),
        Tr("Prefix a word with a dash to make sure files shown ") + Bold("don't") +
            Tr(" contain the word:"),
        Tr("lackluster container -bothersome"),
        Tr("Will show the same files as the first example, except for files that have the word "
           "\"bothersome\" in their name, or their folder name."),
        Tr("In addition, these special tokens will filter files based on certain attributes:"),
    };
    QStringList const l_keywords = {
        Keyword("minbitrate", true, Tr("shows audio files with a minimum bitrate of ") + l_number),
        Keyword("minfilesize", true,
                Tr("shows files with a minimum file size of ") + l_number + Tr(" MB")),
        Keyword("minfilesinfolder", true,
                Tr("shows folders with at least ") + l_number + Tr(" files in them")),
        Keyword("isvbr", false, Tr("shows variable bitrate audio files")),
        Keyword("iscbr", false, Tr("shows constant bitrate audio files")),
    };
    QStringList const l_closing = {
        Tr("(shorthands: ") + Bold("mbr") + Tr(" for ") + Bold("minbitrate") + Tr(", ") +
            Bold("mfs") + Tr(" for ") + Bold("minfilesize") + Tr(", ") + Bold("mfif") + Tr(" for ") +
            Bold("minfilesinfolder") + Tr(")"),
        Tr("For example typing this into the filter box:"),
        Tr("lackluster container iscbr minbitrate:320 minfilesize:10 minfilesinfolder:8"),
        Tr("Will show all files with 'lackluster' and 'container' in their name or folder name, that "
           "are constant bitrate encoded, of a minimum bitrate of 320, a minimum file size of 10 "
           "megabytes and that are in folders with at least 8 visible (non-filtered) files in them."),
    };

    QString l_html = QStringLiteral(
        "<html><head><meta name=\"qrichtext\" content=\"1\" /><style type=\"text/css\">\n"
        "p, li { white-space: pre-wrap; }\n</style></head><body style=\" font-family:'Lucida Grande'; "
        "font-size:13pt; font-weight:400; font-style:normal;\">\n");
    for (QString const& l_text : l_spaced)
        l_html += l_paragraph.arg(l_text) + l_empty;
    for (QString const& l_text : l_keywords)
        l_html += l_paragraph.arg(l_text);
    l_html += l_empty;
    for (QString const& l_text : l_closing)
        l_html += l_paragraph.arg(l_text) + l_empty;
    return l_html + QStringLiteral("</body></html>");
}
} // namespace

FilterHelpDialog::FilterHelpDialog(QWidget* ip_parent) : QDialog(ip_parent)
{
    filterHelpDialog = this;
    setAttribute(Qt::WA_DeleteOnClose);

    setObjectName("FilterHelpDialog");
    resize(502, 416);
    horizontalLayout_2 = new QHBoxLayout(this);
    horizontalLayout_2->setObjectName("horizontalLayout_2");
    verticalLayout = new QVBoxLayout();
    verticalLayout->setObjectName("verticalLayout");

    textEdit = new QTextEdit(this);
    textEdit->setObjectName("textEdit");
    QFont l_font;
    l_font.setPointSize(13);
    textEdit->setFont(l_font);
    textEdit->setFocusPolicy(Qt::NoFocus);
    textEdit->setFrameShape(QFrame::Box);
    textEdit->setFrameShadow(QFrame::Plain);
    textEdit->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    verticalLayout->addWidget(textEdit);

    horizontalLayout = new QHBoxLayout();
    horizontalLayout->setObjectName("horizontalLayout");
    horizontalSpacer = new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
    horizontalLayout->addItem(horizontalSpacer);
    pushButton = new QPushButton(this);
    pushButton->setObjectName("pushButton");
    horizontalLayout->addWidget(pushButton);
    horizontalSpacer_2 = new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
    horizontalLayout->addItem(horizontalSpacer_2);
    verticalLayout->addLayout(horizontalLayout);
    horizontalLayout_2->addLayout(verticalLayout);

    RetranslateUi();
    connect(pushButton, &QPushButton::clicked, this, &QDialog::accept);
}

FilterHelpDialog::~FilterHelpDialog()
{
    if (filterHelpDialog == this)
        filterHelpDialog = nullptr;
}

void FilterHelpDialog::Open(QWidget* ip_form)
{
    if (!filterHelpDialog)
        new FilterHelpDialog(ip_form);
    filterHelpDialog->setVisible(true);
}

void FilterHelpDialog::RetranslateUi()
{
    setWindowTitle(QApplication::translate("FilterHelpDialog", "Filter Help"));
    textEdit->setHtml(HelpText());
    pushButton->setText(QApplication::translate("FilterHelpDialog", "Ok"));
}
