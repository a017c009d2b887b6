#include "app/import_preview.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "app/qt_text.h"
#include "import/importer.h"
#include "view/chart_view.h"
#include "workspace/file_io.h"
#include "workspace/palette.h"

namespace varnix {
namespace {

/// A longer text is previewed from its start (cut at a line end): every
/// edit reads the preview again, and the first lines decide the choices.
constexpr std::size_t kPreviewBytes = std::size_t{2} * 1024 * 1024;
constexpr int kTextLines = 300;
constexpr int kTextLineChars = 400;
constexpr int kTableRows = 200;
constexpr int kTableGraphs = 40;
constexpr int kDrawnGraphs = 60;
constexpr int kManyColumns = 100000;

/// The value of one key in the settings' words ("semicolon" of
/// "separator=semicolon"); empty when that field is automatic.
QString valueOf(const ImportSettings& s, std::string_view key) {
  for (const std::string& w : formatImportSettings(s))
    if (w.size() > key.size() && w.compare(0, key.size(), key) == 0 && w[key.size()] == '=')
      return qs(w.substr(key.size() + 1));
  return {};
}

QString autoText(const QString& guess) {
  return guess.isEmpty() ? QString("auto") : "auto (" + guess + ")";
}

/// A combo box of named choices; item 0 is automatic (no data).
QComboBox* choices(QWidget* parent, const std::vector<std::pair<QString, int>>& items) {
  auto* c = new QComboBox(parent);
  c->addItem("auto");
  for (const auto& [text, value] : items) c->addItem(text, value);
  return c;
}

/// The choice of a combo box; nullopt for automatic.
std::optional<int> choiceOf(const QComboBox* c) {
  if (c->currentIndex() <= 0) return std::nullopt;
  return c->currentData().toInt();
}

void selectChoice(QComboBox* c, std::optional<int> value) {
  c->setCurrentIndex(value ? std::max(0, c->findData(*value)) : 0);
}

int spinValue(std::optional<std::size_t> v, int maximum) {
  return v ? static_cast<int>(std::min<std::size_t>(*v, static_cast<std::size_t>(maximum))) : -1;
}

std::optional<std::size_t> spinChoice(const QSpinBox* s) {
  if (s->value() < 0) return std::nullopt;
  return static_cast<std::size_t>(s->value());
}

}  // namespace

ChoiceSpinBox::ChoiceSpinBox(int maximum, const QString& noneText, QWidget* parent)
    : QSpinBox(parent), m_none(noneText) {
  setRange(-1, maximum);
  setValue(-1);
  setAccelerated(true);
}

void ChoiceSpinBox::setGuess(const QString& guess) {
  m_guess = guess;
  // The shown text follows the guess while the field is automatic.
  if (value() < 0) lineEdit()->setText(textFromValue(value()));
}

QString ChoiceSpinBox::textFromValue(int value) const {
  if (value < 0) return autoText(m_guess);
  if (value == 0 && !m_none.isEmpty()) return m_none;
  return QString::number(value);
}

int ChoiceSpinBox::valueFromText(const QString& text) const {
  const QString t = text.trimmed();
  if (!m_none.isEmpty() && t.compare(m_none, Qt::CaseInsensitive) == 0) return 0;
  bool ok = false;
  const int v = t.toInt(&ok);
  return ok ? v : -1;
}

QValidator::State ChoiceSpinBox::validate(QString& text, int&) const {
  const QString t = text.trimmed();
  if (t.isEmpty()) return QValidator::Intermediate;
  if (t.startsWith("auto", Qt::CaseInsensitive) ||
      (!m_none.isEmpty() && t.compare(m_none, Qt::CaseInsensitive) == 0))
    return QValidator::Acceptable;
  if ((!m_none.isEmpty() && m_none.startsWith(t, Qt::CaseInsensitive)) ||
      QString("auto").startsWith(t, Qt::CaseInsensitive))
    return QValidator::Intermediate;
  bool ok = false;
  const int v = t.toInt(&ok);
  if (!ok || t.startsWith('+') || t.startsWith('-')) return QValidator::Invalid;
  return v <= maximum() ? QValidator::Acceptable : QValidator::Invalid;
}

ImportPreviewDialog::ImportPreviewDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Import with options");
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                 Qt::WindowMaximizeButtonHint);
  setModal(true);
  m_file = new QLabel(this);
  m_file->setTextInteractionFlags(Qt::TextSelectableByMouse);
  m_separator = choices(
      this,
      {{"Tab", '\t'}, {"Semicolon ;", ';'}, {"Comma ,", ','}, {"Blanks (spaces, tabs)", ' '}});
  m_decimal = choices(this, {{"Point .", '.'}, {"Comma ,", ','}});
  m_skip = new ChoiceSpinBox(1000000, QString(), this);
  m_header = new ChoiceSpinBox(1000000, "none", this);
  m_layout = choices(
      this, {{"First column x", static_cast<int>(ImportLayout::FirstColumnX)},
             {"Column pairs x y x y", static_cast<int>(ImportLayout::ColumnPairs)},
             {"One spectrum per row", static_cast<int>(ImportLayout::SpectrumPerRow)},
             {"Stacked scans", static_cast<int>(ImportLayout::StackedScans)},
             {"X from start and step", static_cast<int>(ImportLayout::StartStep)},
             {"X and y on alternate lines", static_cast<int>(ImportLayout::AlternateLines)}});
  m_x = new ChoiceSpinBox(kManyColumns, "none", this);
  m_columns = new QLineEdit(this);
  m_rows = new QLineEdit(this);
  m_columns->setToolTip("Column numbers from 1, such as 2,4-6; empty: the guess");
  m_rows->setToolTip(
      "FROM:TO or FROM:TO:STEP, data rows counted from 1 (TO empty: to the last); empty: the "
      "guess");
  m_header->setToolTip("The line of the column titles, counted from 1; none: no titles");
  m_x->setToolTip("The column of x; none: x is the row number");
  m_skip->setToolTip("Lines at the start that are never data (kept as comments)");

  auto* form = new QFormLayout;
  form->addRow("&Separator:", m_separator);
  form->addRow("&Decimal mark:", m_decimal);
  form->addRow("Lines to s&kip:", m_skip);
  form->addRow("&Header row:", m_header);
  form->addRow("&Layout:", m_layout);
  form->addRow("&X column:", m_x);
  form->addRow("&Columns to take:", m_columns);
  form->addRow("&Rows:", m_rows);

  m_text = new QPlainTextEdit(this);
  m_text->setReadOnly(true);
  m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
  m_text->setFont(QFont("Monospace"));
  m_text->setFocusPolicy(Qt::ClickFocus);
  m_table = new QTableWidget(this);
  m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_table->setFocusPolicy(Qt::ClickFocus);
  m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 4);
  m_chart = new ChartView(this);
  m_chart->setMinimumSize(320, 200);
  m_chart->setMouseEnabled(false);
  m_chart->setFocusPolicy(Qt::NoFocus);
  m_status = new QLabel(this);
  m_status->setWordWrap(true);
  m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
  m_remember = new QCheckBox("&Use for files like this", this);
  m_remember->setToolTip(
      "Import files with this extension and this kind of header with these choices from now on "
      "(File, Import and dropping with Shift)");
  m_ok = new QPushButton("OK", this);
  m_ok->setDefault(true);
  m_cancel = new QPushButton("Cancel", this);
  m_cancel->setAutoDefault(false);
  connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* left = new QVBoxLayout;
  left->addLayout(form);
  left->addWidget(new QLabel("Graphs:", this));
  left->addWidget(m_chart, 1);
  auto* right = new QVBoxLayout;
  right->addWidget(new QLabel("The file's first lines:", this));
  right->addWidget(m_text, 1);
  right->addWidget(new QLabel("What the import makes of them:", this));
  right->addWidget(m_table, 1);
  auto* panes = new QHBoxLayout;
  panes->addLayout(left, 2);
  panes->addLayout(right, 3);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(m_remember);
  buttons->addStretch();
  buttons->addWidget(m_ok);
  buttons->addWidget(m_cancel);
  auto* l = new QVBoxLayout(this);
  l->addWidget(m_file);
  l->addLayout(panes, 1);
  l->addWidget(m_status);
  l->addLayout(buttons);
  resize(980, 680);

  QWidget::setTabOrder(m_separator, m_decimal);
  QWidget::setTabOrder(m_decimal, m_skip);
  QWidget::setTabOrder(m_skip, m_header);
  QWidget::setTabOrder(m_header, m_layout);
  QWidget::setTabOrder(m_layout, m_x);
  QWidget::setTabOrder(m_x, m_columns);
  QWidget::setTabOrder(m_columns, m_rows);
  QWidget::setTabOrder(m_rows, m_remember);
  QWidget::setTabOrder(m_remember, m_ok);
  QWidget::setTabOrder(m_ok, m_cancel);

  auto edited = [this] {
    if (!m_filling) reparse();
  };
  for (QComboBox* c : {m_separator, m_decimal, m_layout})
    connect(c, &QComboBox::currentIndexChanged, this, edited);
  for (QSpinBox* s : {static_cast<QSpinBox*>(m_skip), static_cast<QSpinBox*>(m_header),
                      static_cast<QSpinBox*>(m_x)})
    connect(s, &QSpinBox::valueChanged, this, edited);
  for (QLineEdit* e : {m_columns, m_rows}) connect(e, &QLineEdit::textChanged, this, edited);

  const std::initializer_list<std::pair<QObject*, const char*>> names = {
      {m_file, "file"},     {m_separator, "separator"}, {m_decimal, "decimal"},
      {m_skip, "skip"},     {m_header, "header"},       {m_layout, "layout"},
      {m_x, "x"},           {m_columns, "columns"},     {m_rows, "rows"},
      {m_text, "text"},     {m_table, "table"},         {m_chart, "preview"},
      {m_status, "status"}, {m_remember, "remember"},   {m_ok, "ok"},
      {m_cancel, "cancel"}};
  for (const auto& [part, name] : names) part->setObjectName(name);
}

void ImportPreviewDialog::setFile(const QString& path, const ImportSettings& start, bool remembered,
                                  int moreFiles) {
  m_path = path;
  m_file->setText(moreFiles == 0 ? path
                                 : QString("%1 (and %2 more file%3, read with the same choices)")
                                       .arg(path)
                                       .arg(moreFiles)
                                       .arg(moreFiles == 1 ? "" : "s"));
  m_bytes.clear();
  m_cut = false;
  m_readError.clear();
  const ReadResult read = readWholeFile(ss(path), m_bytes);
  if (read.status == ReadStatus::Missing)
    m_readError = "there is no such file";
  else if (read.status == ReadStatus::NotRegular)
    m_readError = "not a regular file";
  else if (!read.ok())
    m_readError = read.reason.empty() ? std::string("the file cannot be read") : read.reason;
  if (!m_readError.empty()) m_bytes.clear();
  std::string storage, encoding;
  std::string_view text;
  const bool isText = !m_bytes.empty() && decodeText(m_bytes, storage, text, encoding);
  if (isText && m_bytes.size() > kPreviewBytes) {
    const std::size_t end = m_bytes.find_last_of("\r\n", kPreviewBytes);
    if (end != std::string::npos) {
      m_bytes.resize(end + 1);
      m_cut = true;
    }
  }
  // The file's first lines, numbered as the choices count them.
  QStringList lines;
  if (isText) {
    forEachTextLine(text, [&](std::size_t n, std::string_view line) {
      QString shown = QString::fromUtf8(
          line.data(), static_cast<qsizetype>(std::min<std::size_t>(
                           line.size(), static_cast<std::size_t>(kTextLineChars))));
      if (line.size() > static_cast<std::size_t>(kTextLineChars)) shown += QChar(0x2026);
      lines << QString("%1  %2").arg(n + 1, 4).arg(shown);
      return lines.size() < kTextLines;
    });
  } else if (!m_bytes.empty()) {
    lines << "(a binary file: the choices are for text tables and do not change how it is read)";
  }
  m_text->setPlainText(lines.join('\n'));
  for (QWidget* w : std::initializer_list<QWidget*>{m_separator, m_decimal, m_skip, m_header,
                                                    m_layout, m_x, m_columns, m_rows, m_remember})
    w->setEnabled(isText);

  m_filling = true;
  selectChoice(m_separator, start.separator ? std::optional<int>(*start.separator) : std::nullopt);
  selectChoice(m_decimal, start.decimal ? std::optional<int>(*start.decimal) : std::nullopt);
  m_skip->setValue(spinValue(start.skipLines, m_skip->maximum()));
  m_header->setValue(spinValue(start.headerRow, m_header->maximum()));
  selectChoice(m_layout,
               start.layout ? std::optional<int>(static_cast<int>(*start.layout)) : std::nullopt);
  m_x->setValue(spinValue(start.xColumn, m_x->maximum()));
  m_columns->setText(valueOf(start, "columns"));
  m_rows->setText(valueOf(start, "rows"));
  m_remember->setChecked(remembered && isText);
  m_filling = false;
  m_separator->setFocus();
  reparse();
}

std::optional<ImportSettings> ImportPreviewDialog::readFields(std::string& error) const {
  std::vector<std::string> words;
  if (const QString c = m_columns->text().trimmed(); !c.isEmpty())
    words.push_back("columns=" + ss(c));
  if (const QString r = m_rows->text().trimmed(); !r.isEmpty()) words.push_back("rows=" + ss(r));
  std::optional<ImportSettings> s = parseImportSettings(words, error);
  if (!s) return std::nullopt;
  if (auto v = choiceOf(m_separator)) s->separator = static_cast<char>(*v);
  if (auto v = choiceOf(m_decimal)) s->decimal = static_cast<char>(*v);
  if (auto v = choiceOf(m_layout)) s->layout = static_cast<ImportLayout>(*v);
  s->skipLines = spinChoice(m_skip);
  s->headerRow = spinChoice(m_header);
  s->xColumn = spinChoice(m_x);
  return s;
}

ImportSettings ImportPreviewDialog::settings() const {
  std::string error;
  return readFields(error).value_or(ImportSettings{});
}

bool ImportPreviewDialog::useForFilesLikeThis() const {
  return m_remember->isEnabled() && m_remember->isChecked();
}

void ImportPreviewDialog::setStatus(const QString& text, bool error) {
  m_status->setText(text);
  m_status->setStyleSheet(error ? "color: #c00000;" : QString());
}

void ImportPreviewDialog::reparse() {
  std::string error;
  const std::optional<ImportSettings> s = readFields(error);
  // OK imports what is shown: a field that does not read holds it back.
  m_ok->setEnabled(s.has_value() && m_readError.empty());
  if (!s) {
    setStatus(qs(error), true);
    return;
  }
  m_result = {};
  if (!m_readError.empty())
    m_result.refusal = m_readError;
  else
    m_result = importBytes(m_bytes, ss(QFileInfo(m_path).fileName()), kAnySlots, *s);
  showGuess(m_result.settings);
  showTable();
  showCurves();
  QString status = qs(importSummaryLine(ss(QFileInfo(m_path).fileName()), m_result));
  if (m_cut)
    status += QString(" (the preview reads the first %1 MB; OK imports the whole file)")
                  .arg(kPreviewBytes / (std::size_t{1024} * 1024));
  setStatus(status, m_result.refusal.has_value());
}

void ImportPreviewDialog::showGuess(const ImportSettings& used) {
  m_separator->setItemText(0, autoText(valueOf(used, "separator")));
  m_decimal->setItemText(0, autoText(valueOf(used, "decimal")));
  m_layout->setItemText(0, autoText(valueOf(used, "layout")));
  m_skip->setGuess(valueOf(used, "skip"));
  m_header->setGuess(valueOf(used, "header"));
  m_x->setGuess(valueOf(used, "x"));
  m_columns->setPlaceholderText(autoText(valueOf(used, "columns")));
  m_rows->setPlaceholderText(autoText(valueOf(used, "rows")));
}

void ImportPreviewDialog::showTable() {
  const std::vector<ImportedGraph>& graphs = m_result.graphs;
  const int shownGraphs = static_cast<int>(std::min<std::size_t>(graphs.size(), kTableGraphs));
  int rows = 0;
  for (int g = 0; g < shownGraphs; ++g)
    rows = std::max(rows,
                    static_cast<int>(std::min<std::size_t>(graphs[g].points.size(), kTableRows)));
  // One x column when every graph has the first graph's x in the rows shown.
  bool sharedX = shownGraphs > 0;
  for (int g = 1; g < shownGraphs && sharedX; ++g)
    for (int r = 0; r < rows && sharedX; ++r) {
      const auto& a = graphs[0].points;
      const auto& b = graphs[g].points;
      const auto k = static_cast<std::size_t>(r);
      sharedX = k < a.size() && k < b.size() && a[k].x == b[k].x;
    }
  m_table->clear();
  QStringList titles;
  if (sharedX) titles << "x";
  for (int g = 0; g < shownGraphs; ++g) {
    const QString name = qs(graphs[g].name);
    if (!sharedX) titles << name + " x";
    titles << (sharedX ? name : name + " y");
  }
  m_table->setColumnCount(static_cast<int>(titles.size()));
  m_table->setRowCount(rows);
  m_table->setHorizontalHeaderLabels(titles);
  for (int g = 0; g < shownGraphs; ++g) {
    const auto& points = graphs[g].points;
    for (int r = 0; r < rows && static_cast<std::size_t>(r) < points.size(); ++r) {
      const Point& p = points[static_cast<std::size_t>(r)];
      const int yColumn = sharedX ? g + 1 : 2 * g + 1;
      if (!sharedX || g == 0)
        m_table->setItem(r, yColumn - 1, new QTableWidgetItem(number(p.x, 7)));
      m_table->setItem(r, yColumn, new QTableWidgetItem(number(p.y, 7)));
    }
  }
  m_table->resizeColumnsToContents();
}

void ImportPreviewDialog::showCurves() {
  const int drawn = static_cast<int>(std::min<std::size_t>(m_result.graphs.size(), kDrawnGraphs));
  for (int g = 0; g < drawn; ++g) {
    Series s;
    s.assignSorted(m_result.graphs[static_cast<std::size_t>(g)].points);
    m_chart->setSeries(g, std::move(s), distinctColour(static_cast<std::size_t>(g), false));
  }
  m_chart->truncateSeries(drawn);
  m_chart->redraw();
}

}  // namespace varnix
