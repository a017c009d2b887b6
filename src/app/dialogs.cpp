#include "app/dialogs.h"

#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QVBoxLayout>
#include <algorithm>
#include <initializer_list>

#include "app/user_prompts.h"
#include "view/chart_view.h"
#include "view/colour.h"
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
  text = new QPlainTextEdit(this);
  text->setFont(arial(15, true));
  text->setStyleSheet("QPlainTextEdit { background: black; color: aqua; }");
  text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  text->setLineWrapMode(QPlainTextEdit::NoWrap);
  auto* l = new QVBoxLayout(this);
  l->addWidget(text);
  l->addLayout(okCancelRow(this, ok, "OK", cancel, "Cancel"));
  nameParts({{text, "text"}, {ok, "ok"}, {cancel, "cancel"}});
}

void CommentDialog::setComment(const QString& graphName, const std::vector<std::string>& lines) {
  setWindowTitle(" Comment for " + graphName);
  QStringList all;
  for (const std::string& l : lines) all << QString::fromStdString(l);
  text->setPlainText(all.join('\n'));
}

std::vector<std::string> CommentDialog::lines() const {
  std::vector<std::string> out;
  const QString t = text->toPlainText();
  if (!t.isEmpty())
    for (const QString& l : t.split('\n')) out.push_back(l.toStdString());
  return out;
}

RenameDialog::RenameDialog(QWidget* parent) : QDialog(parent) {
  fixedDialog(this, "Rename File");
  oldNameLabel = new QLabel(this);
  newNameEdit = new QLineEdit(this);
  QHBoxLayout* buttons = okCancelRow(this, ok, "OK", cancel, "Cancel");
  auto* g = new QGridLayout(this);
  g->addWidget(new QLabel("Rename", this), 0, 0);
  g->addWidget(oldNameLabel, 0, 1, 1, 2);
  g->addWidget(new QLabel("To : ", this), 1, 0);
  g->addWidget(newNameEdit, 1, 1, 1, 2);
  g->addLayout(buttons, 2, 1, 1, 2);
  newNameEdit->setMinimumWidth(260);
  nameParts({{oldNameLabel, "oldName"}, {newNameEdit, "newName"}, {ok, "ok"}, {cancel, "cancel"}});
}

void RenameDialog::setName(const QString& name) {
  oldNameLabel->setText(name);
  newNameEdit->setText(name);
}

QString RenameDialog::newName() const {
  return newNameEdit->text();
}

MathDialog::MathDialog(QWidget* parent) : QDialog(parent) {
  fixedDialog(this, "math");
  xFormula = new QLineEdit("x", this);
  yFormula = new QLineEdit("y", this);
  QHBoxLayout* buttons = okCancelRow(this, ok, "OK", cancel, "Cancel");
  auto* g = new QGridLayout(this);
  g->addWidget(new QLabel("X(x,y)=", this), 0, 0);
  g->addWidget(xFormula, 0, 1, 1, 2);
  g->addWidget(new QLabel("Y(x,y)=", this), 1, 0);
  g->addWidget(yFormula, 1, 1, 1, 2);
  g->addLayout(buttons, 2, 1, 1, 2);
  xFormula->setMinimumWidth(300);
  setTabOrder(yFormula, ok);
  setTabOrder(ok, xFormula);
  setTabOrder(xFormula, cancel);
  nameParts({{xFormula, "xFormula"}, {yFormula, "yFormula"}, {ok, "ok"}, {cancel, "cancel"}});
}

MathFormulas MathDialog::formulas() const {
  return {xFormula->text().toStdString(), yFormula->text().toStdString()};
}

void MathDialog::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  yFormula->setFocus();
}

SimpleMathDialog::SimpleMathDialog(QWidget* parent, UserPrompts& prompts) : QDialog(parent) {
  fixedDialog(this, "SimpleMath");
  b = new QLineEdit("1", this);
  a = new QLineEdit("0", this);
  c = new QLineEdit("0", this);
  d = new QLineEdit("0", this);
  auto* filter = new NumberKeyFilter(prompts, this);
  for (QLineEdit* e : {b, a, c, d}) {
    e->installEventFilter(filter);
    e->setFixedWidth(60);
  }
  QHBoxLayout* buttons = okCancelRow(this, ok, "OK (Enter)", cancel, "Cancel (ESC)");
  ok->setFocusPolicy(Qt::NoFocus);
  cancel->setFocusPolicy(Qt::NoFocus);
  auto* row = new QHBoxLayout;
  row->addWidget(new QLabel("Y =", this));
  row->addWidget(b);
  row->addWidget(new QLabel(QString::fromUtf8(" \u00B7 Y + "), this));
  row->addWidget(a);
  row->addWidget(new QLabel("  + ", this));
  row->addWidget(c);
  row->addWidget(new QLabel(QString::fromUtf8(" \u00B7N +  "), this));
  row->addWidget(d);
  row->addWidget(new QLabel(QString::fromUtf8(" \u00B7N \u00B7Y "), this));
  auto* l = new QVBoxLayout(this);
  l->addLayout(row);
  l->addLayout(buttons);
  setTabOrder(a, b);
  setTabOrder(b, c);
  setTabOrder(c, d);
  nameParts({{b, "b"}, {a, "a"}, {c, "c"}, {d, "d"}, {ok, "ok"}, {cancel, "cancel"}});
}

SimpleMathFields SimpleMathDialog::fields() const {
  return {b->text().toStdString(), a->text().toStdString(), c->text().toStdString(),
          d->text().toStdString()};
}

void SimpleMathDialog::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  a->setFocus();
}

SimpleMathXDialog::SimpleMathXDialog(QWidget* parent) : QDialog(parent) {
  fixedDialog(this, "Simple Math on X");
  b = new QLineEdit("1", this);
  a = new QLineEdit("0", this);
  b->setFixedWidth(70);
  a->setFixedWidth(70);
  QHBoxLayout* buttons = okCancelRow(this, ok, "OK", cancel, "Cancel");
  auto* row = new QHBoxLayout;
  row->addWidget(new QLabel("X =", this));
  row->addWidget(b);
  row->addWidget(new QLabel(QString::fromUtf8(" \u00B7 X + "), this));
  row->addWidget(a);
  auto* l = new QVBoxLayout(this);
  l->addLayout(row);
  l->addLayout(buttons);
  setTabOrder(ok, cancel);
  setTabOrder(cancel, b);
  setTabOrder(b, a);
  nameParts({{b, "b"}, {a, "a"}, {ok, "ok"}, {cancel, "cancel"}});
}

SimpleMathXFields SimpleMathXDialog::fields() const {
  return {b->text().toStdString(), a->text().toStdString()};
}

void SimpleMathXDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  ok->setFocus(Qt::OtherFocusReason);
}

MathOnGraphsDialog::MathOnGraphsDialog(QWidget* parent) : QDialog(parent) {
  fixedDialog(this, "Math on graphs");
  in1 = new QTableWidget(1, 1, this);
  in1->horizontalHeader()->hide();
  in1->verticalHeader()->hide();
  in1->horizontalHeader()->setStretchLastSection(true);
  in1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  group = new QButtonGroup(this);
  const char* ops[] = {"+", "-", "*", "/"};
  auto* radios = new QVBoxLayout;
  for (int i = 0; i < 4; ++i) {
    radio[i] = new QRadioButton(ops[i], this);
    group->addButton(radio[i], i);
    radios->addWidget(radio[i]);
  }
  secondList = new QListWidget(this);
  secondList->setSelectionMode(QAbstractItemView::SingleSelection);
  auto* frame = new QFrame(this);
  frame->setFrameShape(QFrame::Box);
  auto* inner = new QHBoxLayout(frame);
  inner->addWidget(in1);
  inner->addLayout(radios);
  inner->addWidget(secondList);
  auto* l = new QVBoxLayout(this);
  l->addWidget(frame);
  l->addLayout(okCancelRow(this, ok, "OK", cancel, "Cancel"));
  resize(560, 300);
  nameParts({{in1, "in1"}, {secondList, "secondGraph"}, {ok, "ok"}, {cancel, "cancel"}});
  for (int i = 0; i < 4; ++i) radio[i]->setObjectName(QString("radio%1").arg(i));
}

void MathOnGraphsDialog::setGraphs(const QStringList& changing, const QStringList& all) {
  in1->clearContents();
  in1->setRowCount(std::max<int>(1, static_cast<int>(changing.size())));
  int row = 0;
  for (const QString& name : changing) in1->setItem(row++, 0, new QTableWidgetItem(name));
  secondList->clear();
  secondList->addItems(all);
  secondList->setCurrentRow(-1);
  secondList->clearSelection();
}

std::optional<std::size_t> MathOnGraphsDialog::secondGraph() const {
  const auto picked = secondList->selectedItems();
  if (picked.isEmpty()) return std::nullopt;
  return static_cast<std::size_t>(secondList->row(picked.first()));
}

std::optional<char> MathOnGraphsDialog::operation() const {
  const char ops[] = {'+', '-', '*', '/'};
  for (int i = 0; i < 4; ++i)
    if (radio[i]->isChecked()) return ops[i];
  return std::nullopt;
}

SlicerDialog::SlicerDialog(QWidget* parent, UserPrompts& prompts)
    : QDialog(parent), m_prompts(prompts) {
  setWindowTitle("Slicer");
  setModal(true);
  table = new QTableWidget(0, 2, this);
  table->setHorizontalHeaderLabels({"Name", "Value"});
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->verticalHeader()->hide();
  from = new QLineEdit("10", this);
  to = new QLineEdit("300", this);
  step = new QLineEdit("5", this);
  prefix = new QLineEdit("d", this);
  suffix = new QLineEdit("", this);
  directory = new QLineEdit(QDir::tempPath(), this);
  decimals = new QLineEdit("0", this);
  decimals->setObjectName("decimals");
  auto* filter = new NumberKeyFilter(prompts, this);
  for (QLineEdit* e : {from, to, step, decimals}) e->installEventFilter(filter);
  browse = button("Browse...", this);
  QHBoxLayout* buttons = okCancelRow(this, ok, "OK", cancel, "Cancel");
  auto* g = new QGridLayout;
  g->addWidget(new QLabel(" From ", this), 0, 0);
  g->addWidget(from, 0, 1);
  g->addWidget(new QLabel("to", this), 0, 2);
  g->addWidget(to, 0, 3);
  g->addWidget(new QLabel(" Interval ", this), 1, 0);
  g->addWidget(step, 1, 1);
  g->addWidget(new QLabel("Prefix ", this), 2, 0);
  g->addWidget(prefix, 2, 1);
  g->addWidget(new QLabel("Suffix", this), 2, 2);
  g->addWidget(suffix, 2, 3);
  g->addWidget(new QLabel("Name=Prefix+count+Sufix", this), 3, 0, 1, 4);
  g->addWidget(new QLabel("Directory", this), 4, 0);
  g->addWidget(directory, 4, 1, 1, 2);
  g->addWidget(browse, 4, 3);
  g->addWidget(new QLabel("Decimals in file names", this), 5, 0, 1, 2);
  g->addWidget(decimals, 5, 2);
  auto* right = new QVBoxLayout;
  right->addLayout(g);
  right->addStretch();
  right->addLayout(buttons);
  auto* l = new QHBoxLayout(this);
  l->addWidget(table, 1);
  l->addLayout(right);
  resize(640, 360);
  connect(browse, &QPushButton::clicked, this, [this] {
    const QString dir = m_prompts.folder(directory->text());
    if (!dir.isEmpty()) directory->setText(QDir::cleanPath(dir));
  });
  nameParts({{table, "table"},
             {from, "from"},
             {to, "to"},
             {step, "step"},
             {prefix, "prefix"},
             {suffix, "suffix"},
             {directory, "directory"},
             {browse, "browse"},
             {ok, "ok"},
             {cancel, "cancel"}});
}

void SlicerDialog::setGraphs(const std::vector<std::pair<QString, QString>>& namesAndValues) {
  table->setRowCount(static_cast<int>(namesAndValues.size()));
  int r = 0;
  for (const auto& [name, value] : namesAndValues) {
    table->setItem(r, 0, new QTableWidgetItem(name));
    table->setItem(r, 1, new QTableWidgetItem(value));
    ++r;
  }
}

SlicerFields SlicerDialog::fields() const {
  SlicerFields f;
  f.from = from->text().toStdString();
  f.to = to->text().toStdString();
  f.step = step->text().toStdString();
  f.prefix = prefix->text().toStdString();
  f.suffix = suffix->text().toStdString();
  f.directory = directory->text().toStdString();
  f.decimals = decimals->text().toStdString();
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
  from = field();
  to = field();
  m0 = field();
  m1 = field();
  d = field();
  a = field();
  d->setToolTip("Dispersion");
  a->setToolTip("Coefficient of assymetry");
  ok = button("OK", this);
  ok->setDefault(true);
  auto* g = new QGridLayout;
  g->addWidget(new QLabel("Integrated from", this), 0, 0);
  g->addWidget(from, 0, 1);
  g->addWidget(new QLabel("to", this), 1, 0);
  g->addWidget(to, 1, 1);
  g->addWidget(new QLabel("M0 =", this), 2, 0);
  g->addWidget(m0, 2, 1);
  g->addWidget(new QLabel("M1 =", this), 3, 0);
  g->addWidget(m1, 3, 1);
  auto* dl = new QLabel("D   =", this);
  dl->setToolTip("Dispersion");
  g->addWidget(dl, 4, 0);
  g->addWidget(d, 4, 1);
  auto* al = new QLabel("A =", this);
  al->setToolTip("Coefficient of assymetry");
  g->addWidget(al, 5, 0);
  g->addWidget(a, 5, 1);
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
  l->addWidget(ok, 0, Qt::AlignRight);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  nameParts({{from, "from"}, {to, "to"}, {m0, "m0"}, {m1, "m1"}, {d, "d"}, {a, "a"}, {ok, "ok"}});
}

void MomentsDialog::setMoments(const QString& lower, const QString& upper, const MomentsRow& row) {
  from->setText(lower);
  to->setText(upper);
  m0->setText(QString::fromStdString(row.m0));
  m1->setText(QString::fromStdString(row.m1));
  d->setText(QString::fromStdString(row.d));
  a->setText(QString::fromStdString(row.a));
}

CalculateMomentsDialog::CalculateMomentsDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Calculate Moments");
  setModal(true);
  table = new QTableWidget(0, 6, this);
  table->setHorizontalHeaderLabels({"Filename", "Value", "M0", "M1", "D", "Coeff. of assymetry"});
  table->verticalHeader()->hide();
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  close = button("Close", this);
  close->setDefault(true);
  preview = button("Preview", this);
  auto* buttons = new QHBoxLayout;
  for (int i = 0; i < 4; ++i) {
    save[i] = button(QString("Save M%1").arg(i), this);
    buttons->addWidget(save[i]);
  }
  buttons->addStretch();
  buttons->addWidget(preview);
  buttons->addWidget(close);
  auto* l = new QVBoxLayout(this);
  l->addWidget(table);
  l->addLayout(buttons);
  resize(760, 420);
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
  for (int i = 0; i < 4; ++i) {
    save[i]->setObjectName(QString("save%1").arg(i));
    connect(save[i], &QPushButton::clicked, this, [this, i] { emit saveRequested(i); });
  }
  connect(preview, &QPushButton::clicked, this, &CalculateMomentsDialog::previewRequested);
  nameParts({{table, "table"}, {close, "close"}, {preview, "preview"}});
}

void CalculateMomentsDialog::fill(const MomentsTable& t) {
  table->clearContents();
  table->setRowCount(static_cast<int>(t.rows.size()));
  for (int r = 0; r < table->rowCount(); ++r) {
    const MomentsRow& row = t.rows[static_cast<std::size_t>(r)];
    const std::string* cells[] = {&row.name, &row.value, &row.m0, &row.m1, &row.d, &row.a};
    for (int c = 0; c < 6; ++c)
      table->setItem(r, c, new QTableWidgetItem(QString::fromStdString(*cells[c])));
  }
}

MomentsPreview::MomentsPreview(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Preview");
  setWindowFlags(Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setModal(false);
  upper = new ChartView(this);
  lower = new ChartView(this);
  for (ChartView* c : {upper, lower}) {
    c->setColours(0, 12632256, 8421504, 65280);
    c->setMouseEnabled(false);
  }
  upper->setAxisTitle(ChartView::Axis::Left, "M1");
  lower->setAxisTitle(ChartView::Axis::Left, "M0");
  auto* l = new QVBoxLayout(this);
  l->addWidget(upper);
  l->addWidget(lower);
  resize(520, 520);
  nameParts({{upper, "upper"}, {lower, "lower"}});
}

void MomentsPreview::setPoints(const Series& m0, const Series& m1) {
  lower->setSeries(0, m0, 65280);
  upper->setSeries(0, m1, 65280);
  lower->redraw();
  upper->redraw();
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
    selector[i] = new QComboBox(this);
    for (const NamedColour& c : kColours) addColour(selector[i], c.name, c.value);
    g->addWidget(new QLabel(labels[i], this), i, 0);
    g->addWidget(selector[i], i, 1);
  }
  defaults = button("Defaults", this);
  ok = button("OK", this);
  ok->setDefault(true);
  apply = button("Apply", this);
  cancel = button("Cancel", this);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(ok);
  buttons->addWidget(apply);
  buttons->addWidget(cancel);
  auto* l = new QVBoxLayout(this);
  l->addLayout(g);
  l->addWidget(defaults, 0, Qt::AlignLeft);
  l->addLayout(buttons);
  setFixedSize(292, 199 + 40);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(ok, &QPushButton::clicked, this, [this] {
    emit applyRequested();
    accept();
  });
  connect(apply, &QPushButton::clicked, this, &ColorsDialog::applyRequested);
  connect(defaults, &QPushButton::clicked, this, &ColorsDialog::defaultsRequested);
  nameParts({{defaults, "defaults"}, {ok, "ok"}, {apply, "apply"}, {cancel, "cancel"}});
  for (int i = 0; i < 5; ++i) selector[i]->setObjectName(QString("selector%1").arg(i));
}

void ColorsDialog::fill(const ColourSettings& c) {
  selectColour(selector[0], c.background);
  selectColour(selector[1], c.axis);
  selectColour(selector[2], c.grid);
  selectColour(selector[3], c.graphs);
  selectColour(selector[4], c.highlight);
}

ColourSettings ColorsDialog::chosen() const {
  auto value = [this](int i) { return static_cast<Colour>(selector[i]->currentData().toUInt()); };
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
  title = new QCheckBox(this);
  memo = new QPlainTextEdit(this);
  left = new QLineEdit("PL Intensity (arb.units)", this);
  bottom = new QLineEdit("Energy (eV)", this);
  QHBoxLayout* buttons = okCancelRow(this, ok, "OK", cancel, "Cancel");
  auto* g = new QGridLayout(this);
  g->addWidget(new QLabel("Title", this), 0, 0);
  g->addWidget(title, 0, 1);
  g->addWidget(memo, 0, 2, 1, 2);
  g->addWidget(new QLabel("Left axis", this), 1, 0, 1, 2);
  g->addWidget(left, 1, 2, 1, 2);
  g->addWidget(new QLabel("Bottom axis", this), 2, 0, 1, 2);
  g->addWidget(bottom, 2, 2, 1, 2);
  g->addLayout(buttons, 3, 2, 1, 2);
  memo->setFixedHeight(50);
  setFixedSize(379 + 40, 145 + 50);
  nameParts({{title, "title"},
             {memo, "memo"},
             {left, "left"},
             {bottom, "bottom"},
             {ok, "ok"},
             {cancel, "cancel"}});
}

LabelsFields LabelsDialog::fields() const {
  return {title->isChecked(), memo->toPlainText().split('\n'), left->text(), bottom->text()};
}

PickerWindow::PickerWindow(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Picker");
  setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setModal(false);
  memo = new QPlainTextEdit(this);
  memo->setFixedWidth(213);
  save = button("Save", this);
  clear = button("Clear", this);
  close = button("Close", this);
  pickY = new QCheckBox("Pick Y", this);
  pickY->setChecked(true);
  pickX = new QCheckBox("Pick X", this);
  auto* right = new QVBoxLayout;
  right->addWidget(new QLabel("Click on graph \nto pick data.", this));
  right->addWidget(pickX);
  right->addWidget(pickY);
  right->addStretch();
  right->addWidget(save);
  right->addWidget(clear);
  right->addWidget(close);
  auto* l = new QHBoxLayout(this);
  l->setContentsMargins(1, 1, 4, 4);
  l->addWidget(memo);
  l->addLayout(right);
  setFixedSize(298, 345);
  connect(close, &QPushButton::clicked, this, &QDialog::hide);
  connect(save, &QPushButton::clicked, this, &PickerWindow::saveRequested);
  connect(clear, &QPushButton::clicked, this, &PickerWindow::clearRequested);
  nameParts({{memo, "memo"},
             {save, "save"},
             {clear, "clear"},
             {close, "close"},
             {pickY, "pickY"},
             {pickX, "pickX"}});
}

void PickerWindow::pick(const QString& x, const QString& y) {
  const bool wantX = pickX->isChecked(), wantY = pickY->isChecked();
  if (wantX && wantY)
    memo->appendPlainText(x + " " + y);
  else if (wantX)
    memo->appendPlainText(x);
  else if (wantY)
    memo->appendPlainText(y);
}

QString PickerWindow::text() const {
  return memo->toPlainText();
}

void PickerWindow::clearText() {
  memo->clear();
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
  x1 = label("lime", 2, 1, 70);
  x2 = label("yellow", 72, 1, 66);
  dx = label("lime", 2, 13, 100);
  hideButton = new QPushButton("hide", this);
  hideButton->setGeometry(104, 13, 33, 15);
  hideButton->setFont(arial(10));
  hideButton->setAutoDefault(false);
  // Wide enough for the caption in the title bar of any window manager.
  setFixedSize(190, 28);
  move(427, 2);
  connect(hideButton, &QPushButton::clicked, this, &CursorsWindow::hideRequested);
  nameParts({{x1, "x1"}, {x2, "x2"}, {dx, "dx"}, {hideButton, "hide"}});
}

void CursorsWindow::setReadouts(const QString& first, const QString& second,
                                const QString& distance) {
  x1->setText(first);
  x2->setText(second);
  dx->setText(distance);
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
