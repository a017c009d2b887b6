#include "app/dialogs.h"

#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QVBoxLayout>
#include <algorithm>
#include <initializer_list>

#include "app/user_prompts.h"
#include "processing/series_parameter.h"
#include "view/chart_view.h"
#include "view/colour.h"
#include "workspace/error.h"
#include "workspace/version.h"

namespace varnix {

namespace {

QFont arial(int pixels, bool bold = false) {
  QFont f("Arial");
  f.setPixelSize(pixels);
  f.setBold(bold);
  return f;
}

QPushButton* button(const QString& text, QWidget* parent) {
  auto* b = new QPushButton(text, parent);
  b->setAutoDefault(false);
  return b;
}

/// The row of the default button and the cancel button, wired to accept and
/// reject.
QHBoxLayout* okCancelRow(QDialog* d, QPushButton*& ok, const QString& okText, QPushButton*& cancel,
                         const QString& cancelText) {
  ok = button(okText, d);
  ok->setDefault(true);
  cancel = button(cancelText, d);
  QObject::connect(ok, &QPushButton::clicked, d, &QDialog::accept);
  QObject::connect(cancel, &QPushButton::clicked, d, &QDialog::reject);
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(ok);
  row->addWidget(cancel);
  return row;
}

/// Names the parts of a dialog after their roles (what tests and style
/// sheets find them by).
void nameParts(std::initializer_list<std::pair<QObject*, const char*>> parts) {
  for (const auto& [part, name] : parts) part->setObjectName(name);
}

void fixedDialog(QDialog* d, const QString& caption) {
  d->setWindowTitle(caption);
  d->setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                    Qt::WindowCloseButtonHint);
  d->setModal(true);
}

}  // namespace

bool NumberKeyFilter::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return QObject::eventFilter(watched, event);
  auto* e = static_cast<QKeyEvent*>(event);
  const QString t = e->text();
  if (e->key() == Qt::Key_Backspace || t.isEmpty()) return false;  // navigation, Enter, Esc
  const QChar c = t.at(0);
  if (c.isDigit() || c == '.' || c == '-' || c == 'e' || c == 'E') return false;
  // Enter, Esc, Tab, Delete and Ctrl combinations (a paste) are no typed characters.
  if (c.unicode() < 32 || c.unicode() == 127 || (e->modifiers() & Qt::ControlModifier))
    return false;
  m_prompts.beep();
  return true;
}

CommentDialog::CommentDialog(QWidget* parent) : QDialog(parent) {
  fixedDialog(this, "Comment");
  resize(420, 260);
  m_text = new QPlainTextEdit(this);
  m_text->setFont(arial(15, true));
  m_text->setStyleSheet("QPlainTextEdit { background: black; color: aqua; }");
  m_text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
  auto* l = new QVBoxLayout(this);
  l->addWidget(m_text);
  l->addLayout(okCancelRow(this, m_ok, "OK", m_cancel, "Cancel"));
  nameParts({{m_text, "text"}, {m_ok, "ok"}, {m_cancel, "cancel"}});
}

void CommentDialog::setComment(const QString& graphName, const std::vector<std::string>& lines) {
  setWindowTitle(" Comment for " + graphName);
  QStringList all;
  for (const std::string& l : lines) all << QString::fromStdString(l);
  m_text->setPlainText(all.join('\n'));
}

std::vector<std::string> CommentDialog::lines() const {
  std::vector<std::string> out;
  const QString t = m_text->toPlainText();
  if (!t.isEmpty())
    for (const QString& l : t.split('\n')) out.push_back(l.toStdString());
  return out;
}

RenameDialog::RenameDialog(QWidget* parent) : QDialog(parent) {
  fixedDialog(this, "Rename File");
  m_oldNameLabel = new QLabel(this);
  m_newNameEdit = new QLineEdit(this);
  QHBoxLayout* buttons = okCancelRow(this, m_ok, "OK", m_cancel, "Cancel");
  auto* g = new QGridLayout(this);
  g->addWidget(new QLabel("Rename", this), 0, 0);
  g->addWidget(m_oldNameLabel, 0, 1, 1, 2);
  g->addWidget(new QLabel("To : ", this), 1, 0);
  g->addWidget(m_newNameEdit, 1, 1, 1, 2);
  g->addLayout(buttons, 2, 1, 1, 2);
  m_newNameEdit->setMinimumWidth(260);
  nameParts({{m_oldNameLabel, "oldName"},
             {m_newNameEdit, "newName"},
             {m_ok, "ok"},
             {m_cancel, "cancel"}});
}

void RenameDialog::setName(const QString& name) {
  m_oldNameLabel->setText(name);
  m_newNameEdit->setText(name);
}

QString RenameDialog::newName() const {
  return m_newNameEdit->text();
}

MathDialog::MathDialog(QWidget* parent) : QDialog(parent) {
  fixedDialog(this, "math");
  m_xFormula = new QLineEdit("x", this);
  m_yFormula = new QLineEdit("y", this);
  QHBoxLayout* buttons = okCancelRow(this, m_ok, "OK", m_cancel, "Cancel");
  auto* g = new QGridLayout(this);
  g->addWidget(new QLabel("X(x,y)=", this), 0, 0);
  g->addWidget(m_xFormula, 0, 1, 1, 2);
  g->addWidget(new QLabel("Y(x,y)=", this), 1, 0);
  g->addWidget(m_yFormula, 1, 1, 1, 2);
  g->addLayout(buttons, 2, 1, 1, 2);
  m_xFormula->setMinimumWidth(300);
  setTabOrder(m_yFormula, m_ok);
  setTabOrder(m_ok, m_xFormula);
  setTabOrder(m_xFormula, m_cancel);
  nameParts(
      {{m_xFormula, "xFormula"}, {m_yFormula, "yFormula"}, {m_ok, "ok"}, {m_cancel, "cancel"}});
}

MathFormulas MathDialog::formulas() const {
  return {m_xFormula->text().toStdString(), m_yFormula->text().toStdString()};
}

void MathDialog::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  m_yFormula->setFocus();
}

SimpleMathDialog::SimpleMathDialog(QWidget* parent, UserPrompts& prompts) : QDialog(parent) {
  fixedDialog(this, "SimpleMath");
  m_b = new QLineEdit("1", this);
  m_a = new QLineEdit("0", this);
  m_c = new QLineEdit("0", this);
  m_d = new QLineEdit("0", this);
  auto* filter = new NumberKeyFilter(prompts, this);
  for (QLineEdit* e : {m_b, m_a, m_c, m_d}) {
    e->installEventFilter(filter);
    e->setFixedWidth(60);
  }
  QHBoxLayout* buttons = okCancelRow(this, m_ok, "OK (Enter)", m_cancel, "Cancel (ESC)");
  m_ok->setFocusPolicy(Qt::NoFocus);
  m_cancel->setFocusPolicy(Qt::NoFocus);
  auto* row = new QHBoxLayout;
  row->addWidget(new QLabel("Y =", this));
  row->addWidget(m_b);
  row->addWidget(new QLabel(QString::fromUtf8(" \u00B7 Y + "), this));
  row->addWidget(m_a);
  row->addWidget(new QLabel("  + ", this));
  row->addWidget(m_c);
  row->addWidget(new QLabel(QString::fromUtf8(" \u00B7N +  "), this));
  row->addWidget(m_d);
  row->addWidget(new QLabel(QString::fromUtf8(" \u00B7N \u00B7Y "), this));
  auto* l = new QVBoxLayout(this);
  l->addLayout(row);
  l->addLayout(buttons);
  setTabOrder(m_a, m_b);
  setTabOrder(m_b, m_c);
  setTabOrder(m_c, m_d);
  nameParts({{m_b, "b"}, {m_a, "a"}, {m_c, "c"}, {m_d, "d"}, {m_ok, "ok"}, {m_cancel, "cancel"}});
}

SimpleMathFields SimpleMathDialog::fields() const {
  return {m_b->text().toStdString(), m_a->text().toStdString(), m_c->text().toStdString(),
          m_d->text().toStdString()};
}

void SimpleMathDialog::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  m_a->setFocus();
}

SimpleMathXDialog::SimpleMathXDialog(QWidget* parent) : QDialog(parent) {
  fixedDialog(this, "Simple Math on X");
  m_b = new QLineEdit("1", this);
  m_a = new QLineEdit("0", this);
  m_b->setFixedWidth(70);
  m_a->setFixedWidth(70);
  QHBoxLayout* buttons = okCancelRow(this, m_ok, "OK", m_cancel, "Cancel");
  auto* row = new QHBoxLayout;
  row->addWidget(new QLabel("X =", this));
  row->addWidget(m_b);
  row->addWidget(new QLabel(QString::fromUtf8(" \u00B7 X + "), this));
  row->addWidget(m_a);
  auto* l = new QVBoxLayout(this);
  l->addLayout(row);
  l->addLayout(buttons);
  setTabOrder(m_ok, m_cancel);
  setTabOrder(m_cancel, m_b);
  setTabOrder(m_b, m_a);
  nameParts({{m_b, "b"}, {m_a, "a"}, {m_ok, "ok"}, {m_cancel, "cancel"}});
}

SimpleMathXFields SimpleMathXDialog::fields() const {
  return {m_b->text().toStdString(), m_a->text().toStdString()};
}

void SimpleMathXDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  m_ok->setFocus(Qt::OtherFocusReason);
}

MathOnGraphsDialog::MathOnGraphsDialog(QWidget* parent) : QDialog(parent) {
  fixedDialog(this, "Math on graphs");
  m_in1 = new QTableWidget(1, 1, this);
  m_in1->horizontalHeader()->hide();
  m_in1->verticalHeader()->hide();
  m_in1->horizontalHeader()->setStretchLastSection(true);
  m_in1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_group = new QButtonGroup(this);
  const char* ops[] = {"+", "-", "*", "/"};
  auto* radios = new QVBoxLayout;
  for (int i = 0; i < 4; ++i) {
    m_radio[i] = new QRadioButton(ops[i], this);
    m_group->addButton(m_radio[i], i);
    radios->addWidget(m_radio[i]);
  }
  m_secondList = new QListWidget(this);
  m_secondList->setSelectionMode(QAbstractItemView::SingleSelection);
  auto* frame = new QFrame(this);
  frame->setFrameShape(QFrame::Box);
  auto* inner = new QHBoxLayout(frame);
  inner->addWidget(m_in1);
  inner->addLayout(radios);
  inner->addWidget(m_secondList);
  auto* l = new QVBoxLayout(this);
  l->addWidget(frame);
  l->addLayout(okCancelRow(this, m_ok, "OK", m_cancel, "Cancel"));
  resize(560, 300);
  nameParts({{m_in1, "in1"}, {m_secondList, "secondGraph"}, {m_ok, "ok"}, {m_cancel, "cancel"}});
  for (int i = 0; i < 4; ++i) m_radio[i]->setObjectName(QString("radio%1").arg(i));
}

void MathOnGraphsDialog::setGraphs(const QStringList& changing, const QStringList& all) {
  m_in1->clearContents();
  m_in1->setRowCount(std::max<int>(1, static_cast<int>(changing.size())));
  int row = 0;
  for (const QString& name : changing) m_in1->setItem(row++, 0, new QTableWidgetItem(name));
  m_secondList->clear();
  m_secondList->addItems(all);
  m_secondList->setCurrentRow(-1);
  m_secondList->clearSelection();
}

std::optional<std::size_t> MathOnGraphsDialog::secondGraph() const {
  const auto picked = m_secondList->selectedItems();
  if (picked.isEmpty()) return std::nullopt;
  return static_cast<std::size_t>(m_secondList->row(picked.first()));
}

std::optional<char> MathOnGraphsDialog::operation() const {
  const char ops[] = {'+', '-', '*', '/'};
  for (int i = 0; i < 4; ++i)
    if (m_radio[i]->isChecked()) return ops[i];
  return std::nullopt;
}

SlicerDialog::SlicerDialog(QWidget* parent, UserPrompts& prompts)
    : QDialog(parent), m_prompts(prompts) {
  setWindowTitle("Slicer");
  setModal(true);
  m_table = new QTableWidget(0, 2, this);
  m_table->setHorizontalHeaderLabels({"Name", "Value"});
  m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_table->verticalHeader()->hide();
  m_from = new QLineEdit("10", this);
  m_to = new QLineEdit("300", this);
  m_step = new QLineEdit("5", this);
  m_prefix = new QLineEdit("d", this);
  m_suffix = new QLineEdit("", this);
  m_directory = new QLineEdit(QDir::tempPath(), this);
  m_decimals = new QLineEdit("0", this);
  m_decimals->setObjectName("decimals");
  auto* filter = new NumberKeyFilter(prompts, this);
  for (QLineEdit* e : {m_from, m_to, m_step, m_decimals}) e->installEventFilter(filter);
  m_browse = button("Browse...", this);
  QHBoxLayout* buttons = okCancelRow(this, m_ok, "OK", m_cancel, "Cancel");
  auto* g = new QGridLayout;
  g->addWidget(new QLabel(" From ", this), 0, 0);
  g->addWidget(m_from, 0, 1);
  g->addWidget(new QLabel("to", this), 0, 2);
  g->addWidget(m_to, 0, 3);
  g->addWidget(new QLabel(" Interval ", this), 1, 0);
  g->addWidget(m_step, 1, 1);
  g->addWidget(new QLabel("Prefix ", this), 2, 0);
  g->addWidget(m_prefix, 2, 1);
  g->addWidget(new QLabel("Suffix", this), 2, 2);
  g->addWidget(m_suffix, 2, 3);
  g->addWidget(new QLabel("Name=Prefix+count+Sufix", this), 3, 0, 1, 4);
  g->addWidget(new QLabel("Directory", this), 4, 0);
  g->addWidget(m_directory, 4, 1, 1, 2);
  g->addWidget(m_browse, 4, 3);
  g->addWidget(new QLabel("Decimals in file names", this), 5, 0, 1, 2);
  g->addWidget(m_decimals, 5, 2);
  m_parameter = new QLineEdit(SeriesParameter::kDigits, this);
  m_parameter->setObjectName("parameter");
  m_parameter->setToolTip("digits, or a regular expression with one group, such as T(\\d+)K");
  g->addWidget(new QLabel("Parameter from name", this), 6, 0, 1, 2);
  g->addWidget(m_parameter, 6, 2, 1, 2);
  connect(m_parameter, &QLineEdit::editingFinished, this, [this] { showValues(); });
  auto* right = new QVBoxLayout;
  right->addLayout(g);
  right->addStretch();
  right->addLayout(buttons);
  auto* l = new QHBoxLayout(this);
  l->addWidget(m_table, 1);
  l->addLayout(right);
  resize(640, 360);
  connect(m_browse, &QPushButton::clicked, this, [this] {
    const QString dir = m_prompts.folder(m_directory->text());
    if (!dir.isEmpty()) m_directory->setText(QDir::cleanPath(dir));
  });
  nameParts({{m_table, "table"},
             {m_from, "from"},
             {m_to, "to"},
             {m_step, "step"},
             {m_prefix, "prefix"},
             {m_suffix, "suffix"},
             {m_directory, "directory"},
             {m_browse, "browse"},
             {m_ok, "ok"},
             {m_cancel, "cancel"}});
}

void SlicerDialog::setGraphs(const std::vector<std::pair<QString, QString>>& namesAndValues) {
  m_table->setRowCount(static_cast<int>(namesAndValues.size()));
  m_names.clear();
  int r = 0;
  for (const auto& [name, value] : namesAndValues) {
    m_table->setItem(r, 0, new QTableWidgetItem(name));
    m_table->setItem(r, 1, new QTableWidgetItem(value));
    m_names.push_back(name.toStdString());
    ++r;
  }
  showValues();
}

void SlicerDialog::showValues() {
  try {
    const std::vector<std::string> values =
        SeriesParameter(m_parameter->text().toStdString()).valuesOf(m_names);
    for (std::size_t r = 0; r < values.size(); ++r)
      m_table->setItem(static_cast<int>(r), 1,
                       new QTableWidgetItem(QString::fromStdString(values[r])));
  } catch (const Error&) {
    // The refusal comes when OK is pressed; the table keeps the last Values.
  }
}

SlicerFields SlicerDialog::fields() const {
  SlicerFields f;
  f.from = m_from->text().toStdString();
  f.to = m_to->text().toStdString();
  f.step = m_step->text().toStdString();
  f.prefix = m_prefix->text().toStdString();
  f.suffix = m_suffix->text().toStdString();
  f.directory = m_directory->text().toStdString();
  f.decimals = m_decimals->text().toStdString();
  f.parameter = m_parameter->text().toStdString();
  return f;
}

MomentsDialog::MomentsDialog(QWidget* parent) : QDialog(parent) {
  fixedDialog(this, "Moments");
  setWindowFlags(windowFlags() | Qt::Tool);
  auto field = [this] {
    auto* e = new QLineEdit(this);
    e->setReadOnly(true);
    e->setMinimumWidth(130);
    return e;
  };
  m_from = field();
  m_to = field();
  m_m0 = field();
  m_m1 = field();
  m_d = field();
  m_a = field();
  m_d->setToolTip("Dispersion");
  m_a->setToolTip("Coefficient of assymetry");
  m_ok = button("OK", this);
  m_ok->setDefault(true);
  auto* g = new QGridLayout;
  g->addWidget(new QLabel("Integrated from", this), 0, 0);
  g->addWidget(m_from, 0, 1);
  g->addWidget(new QLabel("to", this), 1, 0);
  g->addWidget(m_to, 1, 1);
  g->addWidget(new QLabel("M0 =", this), 2, 0);
  g->addWidget(m_m0, 2, 1);
  g->addWidget(new QLabel("M1 =", this), 3, 0);
  g->addWidget(m_m1, 3, 1);
  auto* dl = new QLabel("D   =", this);
  dl->setToolTip("Dispersion");
  g->addWidget(dl, 4, 0);
  g->addWidget(m_d, 4, 1);
  auto* al = new QLabel("A =", this);
  al->setToolTip("Coefficient of assymetry");
  g->addWidget(al, 5, 0);
  g->addWidget(m_a, 5, 1);
  auto* formulas = new QLabel(this);
  formulas->setTextFormat(Qt::RichText);
  formulas->setText(QString::fromUtf8(
      "<p style='font-size:14px'>M0 = &#8747; f(x) dx<br><br>"
      "M1 = (1/M0) &#8747; x f(x) dx<br><br>"
      "D<sup>2</sup> = (1/M0) &#8747; (x &#8722; M1)<sup>2</sup> f(x) dx<br><br>"
      "A = (1/(M0 D<sup>3</sup>)) &#8747; (x &#8722; M1)<sup>3</sup> f(x) dx</p>"));
  formulas->setFrameShape(QFrame::Panel);
  auto* top = new QHBoxLayout;
  top->addLayout(g);
  top->addWidget(formulas);
  auto* l = new QVBoxLayout(this);
  l->addLayout(top);
  l->addWidget(m_ok, 0, Qt::AlignRight);
  connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
  nameParts({{m_from, "from"},
             {m_to, "to"},
             {m_m0, "m0"},
             {m_m1, "m1"},
             {m_d, "d"},
             {m_a, "a"},
             {m_ok, "ok"}});
}

void MomentsDialog::setMoments(const QString& lower, const QString& upper, const MomentsRow& row) {
  m_from->setText(lower);
  m_to->setText(upper);
  m_m0->setText(QString::fromStdString(row.m0));
  m_m1->setText(QString::fromStdString(row.m1));
  m_d->setText(QString::fromStdString(row.d));
  m_a->setText(QString::fromStdString(row.a));
}

CalculateMomentsDialog::CalculateMomentsDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Calculate Moments");
  setModal(true);
  m_table = new QTableWidget(0, 6, this);
  m_table->setHorizontalHeaderLabels({"Filename", "Value", "M0", "M1", "D", "Coeff. of assymetry"});
  m_table->verticalHeader()->hide();
  m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_table->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  m_close = button("Close", this);
  m_close->setDefault(true);
  m_preview = button("Preview", this);
  auto* buttons = new QHBoxLayout;
  for (int i = 0; i < 4; ++i) {
    m_save[i] = button(QString("Save M%1").arg(i), this);
    buttons->addWidget(m_save[i]);
  }
  m_parameter = new QLineEdit(SeriesParameter::kDigits, this);
  m_parameter->setObjectName("parameter");
  m_parameter->setToolTip("digits, or a regular expression with one group, such as T(\\d+)K");
  buttons->addWidget(new QLabel(" Parameter from name", this));
  buttons->addWidget(m_parameter);
  connect(m_parameter, &QLineEdit::editingFinished, this,
          &CalculateMomentsDialog::parameterChanged);
  buttons->addStretch();
  buttons->addWidget(m_preview);
  buttons->addWidget(m_close);
  auto* l = new QVBoxLayout(this);
  l->addWidget(m_table);
  l->addLayout(buttons);
  resize(760, 420);
  connect(m_close, &QPushButton::clicked, this, &QDialog::accept);
  for (int i = 0; i < 4; ++i) {
    m_save[i]->setObjectName(QString("save%1").arg(i));
    connect(m_save[i], &QPushButton::clicked, this, [this, i] { emit saveRequested(i); });
  }
  connect(m_preview, &QPushButton::clicked, this, &CalculateMomentsDialog::previewRequested);
  nameParts({{m_table, "table"}, {m_close, "close"}, {m_preview, "preview"}});
}

QString CalculateMomentsDialog::parameter() const {
  return m_parameter->text();
}

void CalculateMomentsDialog::fill(const MomentsTable& t) {
  m_table->clearContents();
  m_table->setRowCount(static_cast<int>(t.rows.size()));
  for (int r = 0; r < m_table->rowCount(); ++r) {
    const MomentsRow& row = t.rows[static_cast<std::size_t>(r)];
    const std::string* cells[] = {&row.name, &row.value, &row.m0, &row.m1, &row.d, &row.a};
    for (int c = 0; c < 6; ++c)
      m_table->setItem(r, c, new QTableWidgetItem(QString::fromStdString(*cells[c])));
  }
}

MomentsPreview::MomentsPreview(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Preview");
  setWindowFlags(Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setModal(false);
  m_upper = new ChartView(this);
  m_lower = new ChartView(this);
  for (ChartView* c : {m_upper, m_lower}) {
    c->setColours(0, 12632256, 8421504, 65280);
    c->setMouseEnabled(false);
  }
  m_upper->setAxisTitle(ChartView::Axis::Left, "M1");
  m_lower->setAxisTitle(ChartView::Axis::Left, "M0");
  auto* l = new QVBoxLayout(this);
  l->addWidget(m_upper);
  l->addWidget(m_lower);
  resize(520, 520);
  nameParts({{m_upper, "upper"}, {m_lower, "lower"}});
}

void MomentsPreview::setPoints(const Series& m0, const Series& m1) {
  m_lower->setSeries(0, m0, 65280);
  m_upper->setSeries(0, m1, 65280);
  m_lower->redraw();
  m_upper->redraw();
}

namespace {

struct NamedColour {
  const char* name;
  Colour value;
};
// The colour list of the selectors (0x00BBGGRR).
constexpr NamedColour kColours[] = {
    {"Black", 0x000000},  {"Maroon", 0x000080},  {"Green", 0x008000}, {"Olive", 0x008080},
    {"Navy", 0x800000},   {"Purple", 0x800080},  {"Teal", 0x808000},  {"Gray", 0x808080},
    {"Silver", 0xC0C0C0}, {"Red", 0x0000FF},     {"Lime", 0x00FF00},  {"Yellow", 0x00FFFF},
    {"Blue", 0xFF0000},   {"Fuchsia", 0xFF00FF}, {"Aqua", 0xFFFF00},  {"White", 0xFFFFFF},
};

void addColour(QComboBox* box, const QString& name, Colour c) {
  QPixmap pm(14, 14);
  pm.fill(toQColor(c));
  box->addItem(QIcon(pm), name, QVariant::fromValue(static_cast<uint>(c)));
}

void selectColour(QComboBox* box, Colour c) {
  int i = box->findData(QVariant::fromValue(static_cast<uint>(c)));
  if (i < 0) {
    addColour(box, QString("Custom %1").arg(c), c);
    i = box->count() - 1;
  }
  box->setCurrentIndex(i);
}

}  // namespace

ColorsDialog::ColorsDialog(QWidget* parent) : QDialog(parent) {
  fixedDialog(this, "Colors");
  const char* labels[] = {"Background", "Axis ", "Grid", "Graphs", "Highlighted graph"};
  auto* g = new QGridLayout;
  for (int i = 0; i < 5; ++i) {
    m_selector[i] = new QComboBox(this);
    for (const NamedColour& c : kColours) addColour(m_selector[i], c.name, c.value);
    g->addWidget(new QLabel(labels[i], this), i, 0);
    g->addWidget(m_selector[i], i, 1);
  }
  m_defaults = button("Defaults", this);
  m_ok = button("OK", this);
  m_ok->setDefault(true);
  m_apply = button("Apply", this);
  m_cancel = button("Cancel", this);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(m_ok);
  buttons->addWidget(m_apply);
  buttons->addWidget(m_cancel);
  auto* l = new QVBoxLayout(this);
  l->addLayout(g);
  l->addWidget(m_defaults, 0, Qt::AlignLeft);
  l->addLayout(buttons);
  setFixedSize(292, 199 + 40);
  connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(m_ok, &QPushButton::clicked, this, [this] {
    emit applyRequested();
    accept();
  });
  connect(m_apply, &QPushButton::clicked, this, &ColorsDialog::applyRequested);
  connect(m_defaults, &QPushButton::clicked, this, &ColorsDialog::defaultsRequested);
  nameParts({{m_defaults, "defaults"}, {m_ok, "ok"}, {m_apply, "apply"}, {m_cancel, "cancel"}});
  for (int i = 0; i < 5; ++i) m_selector[i]->setObjectName(QString("selector%1").arg(i));
}

void ColorsDialog::fill(const ColourSettings& c) {
  selectColour(m_selector[0], c.background);
  selectColour(m_selector[1], c.axis);
  selectColour(m_selector[2], c.grid);
  selectColour(m_selector[3], c.graphs);
  selectColour(m_selector[4], c.highlight);
}

ColourSettings ColorsDialog::chosen() const {
  auto value = [this](int i) { return static_cast<Colour>(m_selector[i]->currentData().toUInt()); };
  ColourSettings c;
  c.background = value(0);
  c.axis = value(1);
  c.grid = value(2);
  c.graphs = value(3);
  c.highlight = value(4);
  return c;
}

LabelsDialog::LabelsDialog(QWidget* parent) : QDialog(parent) {
  fixedDialog(this, "Labels");
  m_title = new QCheckBox(this);
  m_memo = new QPlainTextEdit(this);
  m_left = new QLineEdit("PL Intensity (arb.units)", this);
  m_bottom = new QLineEdit("Energy (eV)", this);
  QHBoxLayout* buttons = okCancelRow(this, m_ok, "OK", m_cancel, "Cancel");
  auto* g = new QGridLayout(this);
  g->addWidget(new QLabel("Title", this), 0, 0);
  g->addWidget(m_title, 0, 1);
  g->addWidget(m_memo, 0, 2, 1, 2);
  g->addWidget(new QLabel("Left axis", this), 1, 0, 1, 2);
  g->addWidget(m_left, 1, 2, 1, 2);
  g->addWidget(new QLabel("Bottom axis", this), 2, 0, 1, 2);
  g->addWidget(m_bottom, 2, 2, 1, 2);
  g->addLayout(buttons, 3, 2, 1, 2);
  m_memo->setFixedHeight(50);
  setFixedSize(379 + 40, 145 + 50);
  nameParts({{m_title, "title"},
             {m_memo, "memo"},
             {m_left, "left"},
             {m_bottom, "bottom"},
             {m_ok, "ok"},
             {m_cancel, "cancel"}});
}

LabelsFields LabelsDialog::fields() const {
  return {m_title->isChecked(), m_memo->toPlainText().split('\n'), m_left->text(),
          m_bottom->text()};
}

PickerWindow::PickerWindow(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Picker");
  setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setModal(false);
  m_memo = new QPlainTextEdit(this);
  m_memo->setFixedWidth(213);
  m_save = button("Save", this);
  m_clear = button("Clear", this);
  m_close = button("Close", this);
  m_pickY = new QCheckBox("Pick Y", this);
  m_pickY->setChecked(true);
  m_pickX = new QCheckBox("Pick X", this);
  auto* right = new QVBoxLayout;
  right->addWidget(new QLabel("Click on graph \nto pick data.", this));
  right->addWidget(m_pickX);
  right->addWidget(m_pickY);
  right->addStretch();
  right->addWidget(m_save);
  right->addWidget(m_clear);
  right->addWidget(m_close);
  auto* l = new QHBoxLayout(this);
  l->setContentsMargins(1, 1, 4, 4);
  l->addWidget(m_memo);
  l->addLayout(right);
  setFixedSize(298, 345);
  connect(m_close, &QPushButton::clicked, this, &QDialog::hide);
  connect(m_save, &QPushButton::clicked, this, &PickerWindow::saveRequested);
  connect(m_clear, &QPushButton::clicked, this, &PickerWindow::clearRequested);
  nameParts({{m_memo, "memo"},
             {m_save, "save"},
             {m_clear, "clear"},
             {m_close, "close"},
             {m_pickY, "pickY"},
             {m_pickX, "pickX"}});
}

void PickerWindow::pick(const QString& x, const QString& y) {
  const bool wantX = m_pickX->isChecked(), wantY = m_pickY->isChecked();
  if (wantX && wantY)
    m_memo->appendPlainText(x + " " + y);
  else if (wantX)
    m_memo->appendPlainText(x);
  else if (wantY)
    m_memo->appendPlainText(y);
}

QString PickerWindow::text() const {
  return m_memo->toPlainText();
}

void PickerWindow::clearText() {
  m_memo->clear();
}

CursorsWindow::CursorsWindow(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Cursors");
  setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                 Qt::WindowTitleHint);
  setModal(false);
  setStyleSheet("QDialog { background: black; }");
  auto label = [this](const QString& colour, int x, int y, int w) {
    auto* l = new QLabel(this);
    l->setFont(arial(11, true));
    l->setStyleSheet("color: " + colour + ";");
    l->setGeometry(x, y, w, 13);
    return l;
  };
  m_x1 = label("lime", 2, 1, 70);
  m_x2 = label("yellow", 72, 1, 66);
  m_dx = label("lime", 2, 13, 100);
  m_hideButton = new QPushButton("hide", this);
  m_hideButton->setGeometry(104, 13, 33, 15);
  m_hideButton->setFont(arial(10));
  m_hideButton->setAutoDefault(false);
  // Wide enough for the caption in the title bar of any window manager.
  setFixedSize(190, 28);
  move(427, 2);
  connect(m_hideButton, &QPushButton::clicked, this, &CursorsWindow::hideRequested);
  nameParts({{m_x1, "x1"}, {m_x2, "x2"}, {m_dx, "dx"}, {m_hideButton, "hide"}});
}

void CursorsWindow::setReadouts(const QString& first, const QString& second,
                                const QString& distance) {
  m_x1->setText(first);
  m_x2->setText(second);
  m_dx->setText(distance);
}

ImportSummaryWindow::ImportSummaryWindow(QWidget* parent)
    : QDialog(parent), m_text(new QPlainTextEdit(this)) {
  setWindowTitle("Import");
  setModal(false);
  m_text->setReadOnly(true);
  // Wrapped, so that a file's warnings and the count of the rest are in
  // view without scrolling sideways.
  m_text->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  m_options = button("&Options...", this);
  m_options->setToolTip(
      "Import the file of the line with the cursor again, choosing how it is read");
  auto* close = new QPushButton("Close", this);
  connect(close, &QPushButton::clicked, this, &QDialog::hide);
  connect(m_options, &QPushButton::clicked, this, [this] {
    const QString path = chosenPath();
    if (!path.isEmpty()) emit optionsRequested(path);
  });
  auto* l = new QVBoxLayout(this);
  l->addWidget(m_text);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(m_options);
  buttons->addWidget(close);
  l->addLayout(buttons);
  resize(760, 240);
  nameParts({{m_text, "text"}, {m_options, "options"}, {close, "close"}});
}

void ImportSummaryWindow::showLines(const QStringList& lines, const QStringList& paths) {
  m_paths = paths;
  m_text->setPlainText(lines.join('\n'));
  m_options->setEnabled(!paths.isEmpty());
  showNormal();
  raise();
  activateWindow();
}

QString ImportSummaryWindow::text() const {
  return m_text->toPlainText();
}

QString ImportSummaryWindow::chosenPath() const {
  if (m_paths.isEmpty()) return {};
  // A wrapped line is one block: the block is the file's line.
  const int line = m_text->textCursor().blockNumber();
  return m_paths.value(std::clamp(line, 0, static_cast<int>(m_paths.size()) - 1));
}

AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
  setWindowTitle("About...");
  setWindowFlags(Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setModal(false);
  setAutoFillBackground(true);
  QPalette p = palette();
  p.setColor(QPalette::Window, p.color(QPalette::Inactive, QPalette::Highlight).lighter(170));
  setPalette(p);
  auto* l = new QVBoxLayout(this);
  auto* name = new QLabel(QString("%1 %2").arg(kProgramName, kVersion), this);
  name->setFont(arial(15, true));
  l->addWidget(name, 0, Qt::AlignCenter);
  auto* what = new QLabel("Measured curves: view, measure, edit", this);
  auto* contact = new QLabel("Contact: varnix@example.org", this);
  for (QLabel* label : {what, contact}) {
    label->setFont(arial(11));
    l->addWidget(label, 0, Qt::AlignCenter);
  }
  l->setSpacing(2);
  l->setContentsMargins(6, 4, 6, 4);
  setFixedSize(300, 76);
}

}  // namespace varnix
