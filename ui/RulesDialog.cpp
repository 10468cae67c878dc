#include "RulesDialog.h"

#include "DataFile.h"
#include "DialogFit.h"
#include "Errors.h"
#include "FilterLists.h"
#include "FilterRules.h"
#include "MessageHeader.h"
#include "ShownText.h"

#include <QFile>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTextBlock>
#include <QVBoxLayout>

TfrmReglas::TfrmReglas(const DialogContext& context, const QString& rulesPath, const TFiltros& lists,
                       std::function<void()> saved)
    : QDialog(context.owner), m_messageBox(context.messageBox), m_reportError(context.reportError), m_path(rulesPath),
      m_lists(lists), m_saved(std::move(saved)) {
    setObjectName(u"frmReglas"_qs);
    setWindowTitle(u"Reglas de filtrado"_qs);
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    auto* intro = new QLabel(u"Una regla por línea: ACCIÓN CAMPO MODO TEXTO, por ejemplo "
                             u"«marcar Subject contiene oferta», «permitir From contiene @amigos.example» o "
                             u"«marcar autenticidad es dkim-fallido». Las líneas que empiezan por # son "
                             u"comentarios."_qs,
                             this);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    edtReglas = new QPlainTextEdit(this);
    edtReglas->setObjectName(u"edtReglas"_qs);
    edtReglas->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    edtReglas->setLineWrapMode(QPlainTextEdit::NoWrap);
    edtReglas->setAccessibleName(u"Reglas"_qs);
    layout->addWidget(edtReglas, 3);
    auto* problemsCaption = new QLabel(u"&Problemas:"_qs, this);
    layout->addWidget(problemsCaption);
    lstProblemas = new QListWidget(this);
    lstProblemas->setObjectName(u"lstProblemas"_qs);
    problemsCaption->setBuddy(lstProblemas);
    layout->addWidget(lstProblemas, 1);
    auto* testCaption = new QLabel(u"Pro&bar con una cabecera (péguela aquí):"_qs, this);
    layout->addWidget(testCaption);
    edtCabecera = new QPlainTextEdit(this);
    edtCabecera->setObjectName(u"edtCabecera"_qs);
    edtCabecera->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    edtCabecera->setLineWrapMode(QPlainTextEdit::NoWrap);
    testCaption->setBuddy(edtCabecera);
    layout->addWidget(edtCabecera, 2);
    lblResultado = new QLabel(this);
    lblResultado->setTextFormat(Qt::PlainText); // a pasted header is no HTML to render
    lblResultado->setObjectName(u"lblResultado"_qs);
    lblResultado->setWordWrap(true);
    lblResultado->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(lblResultado);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    btnGuardar = new QPushButton(u"&Guardar"_qs, this);
    btnGuardar->setObjectName(u"btnGuardar"_qs);
    btnCancelar = new QPushButton(u"&Cancelar"_qs, this);
    btnCancelar->setObjectName(u"btnCancelar"_qs);
    btnGuardar->setAutoDefault(false);
    btnCancelar->setAutoDefault(false);
    buttons->addWidget(btnGuardar);
    buttons->addWidget(btnCancelar);
    layout->addLayout(buttons);
    resize(620, 560);
    FitToScreen(this); // a small screen takes less than that

    m_recheck.setSingleShot(true);
    m_recheck.setInterval(300);
    connect(&m_recheck, &QTimer::timeout, this, &TfrmReglas::checkNow);
    connect(edtReglas, &QPlainTextEdit::textChanged, &m_recheck, qOverload<>(&QTimer::start));
    connect(edtCabecera, &QPlainTextEdit::textChanged, &m_recheck, qOverload<>(&QTimer::start));
    connect(lstProblemas, &QListWidget::itemActivated, this, &TfrmReglas::goToProblemLine);
    connect(btnGuardar, &QPushButton::clicked, this, &TfrmReglas::btnGuardarClick);
    connect(btnCancelar, &QPushButton::clicked, this, &QDialog::reject);
}

void TfrmReglas::showModal() {
    QString text;
    try {
        if (QFile::exists(m_path)) text = QString::fromUtf8(ReadDataFile(m_path));
    } catch (const AppError& e) {
        m_reportError(e);
        return; // a file that cannot be read is not offered for overwriting
    }
    if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);
    edtReglas->setPlainText(text);
    edtCabecera->clear();
    checkNow();
    exec();
}

void TfrmReglas::checkNow() {
    m_recheck.stop();
    QStringList problems;
    const FilterRules rules = FilterRules::Parse(edtReglas->toPlainText().toUtf8(), &problems);
    lstProblemas->clear();
    lstProblemas->addItems(problems);
    const QString header = edtCabecera->toPlainText();
    if (header.trimmed().isEmpty()) {
        lblResultado->setText(u"Pegue una cabecera para ver qué regla decidiría."_qs);
        return;
    }
    // From and Subject read and decoded as the message list shows them.
    const ParsedHeader parsed = ParseHeaderText(header);
    QStringList matchProblems;
    const RuleDecision decision = rules.decide({header, parsed.from, parsed.subj}, m_lists, &matchProblems);
    QString verdict;
    switch (decision.kind) {
    case RuleDecision::Kind::None:
        verdict = u"Ninguna regla decide: el mensaje no se marcaría."_qs;
        break;
    case RuleDecision::Kind::Allowed:
        verdict = u"Se permitiría (nunca se marca) por: "_qs + decision.reason;
        break;
    case RuleDecision::Kind::Marked:
        verdict = u"Se marcaría para borrar por: "_qs + decision.reason;
        break;
    }
    if (!matchProblems.isEmpty()) verdict += u'\n' + matchProblems.join(u'\n');
    lblResultado->setText(ShownText(verdict, KeepLayout::TabsAndLineBreaks));
}

void TfrmReglas::goToProblemLine() {
    static const QRegularExpression number(u"^L\u00ednea (\\d+)"_qs);
    const QListWidgetItem* item = lstProblemas->currentItem();
    if (!item) return;
    const QRegularExpressionMatch m = number.match(item->text());
    if (!m.hasMatch()) return;
    const QTextBlock block = edtReglas->document()->findBlockByNumber(m.captured(1).toInt() - 1);
    if (!block.isValid()) return;
    QTextCursor cursor(block);
    edtReglas->setTextCursor(cursor);
    edtReglas->setFocus();
}

void TfrmReglas::btnGuardarClick() {
    QString text = edtReglas->toPlainText();
    if (!text.isEmpty() && !text.endsWith(u'\n')) text += u'\n';
    try {
        WriteDataFile(m_path, text.toUtf8(), kOwnerOnlyFile);
    } catch (const AppError& e) {
        m_reportError(e); // what was typed stays in the dialog
        return;
    }
    if (m_saved) m_saved();
    accept();
}
