#include "app/open_files_dialog.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QStorageInfo>
#include <QVBoxLayout>

#include "view/chart_view.h"
#include "workspace/data_file_reader.h"
#include "workspace/file_io.h"
#include "workspace/number_text.h"
#include "workspace/settings_file.h"

namespace varnix {

FilePreview::FilePreview(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Preview");
  setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setModal(false);
  chart = new ChartView(this);
  chart->setColours(0, 12632256, 8421504, 16776960);
  chart->setMouseEnabled(false);
  auto* l = new QVBoxLayout(this);
  l->setContentsMargins(0, 0, 0, 0);
  l->addWidget(chart);
  resize(213, 179);
  move(583, 418);
}

int FilePreview::pointCount() const {
  return chart->seriesPointCount(0);
}

void FilePreview::showFile(const QString& name, const QString& path) {
  setWindowTitle(name);
  Series s;
  std::size_t count = 0;
  bool single = false, stop = false;
  const std::optional<std::string> bytes = readWholeFile(path.toStdString());
  forEachLine(bytes ? std::string_view(*bytes) : std::string_view(), [&](std::string_view line) {
    if (stop || !isDataLine(line)) return;
    std::size_t blank = 1;
    while (blank < line.size() && line[blank] != ' ' && line[blank] != '\t') ++blank;
    if (blank + 1 >= line.size()) single = true;
    const auto a = parseDataValue(line.substr(0, blank));
    std::optional<double> b;
    if (!single && a) b = parseDataValue(line.substr(blank + 1));
    if (!a || (!single && !b)) {
      setWindowTitle("Invalid Data");
      stop = true;
      return;
    }
    if (single)
      s.addPoint(static_cast<double>(count), *a);
    else
      s.addPoint(*a, *b);
    ++count;
  });
  chart->setSeries(0, s, 255);
  chart->setAxisAutomatic(ChartView::Axis::Bottom, true);
  chart->setAxisAutomatic(ChartView::Axis::Left, true);
  chart->redraw();
}

namespace {

const char* kNavyAqua = "QListWidget { background: navy; color: aqua; }";

}  // namespace

OpenFilesDialog::OpenFilesDialog(QWidget* parent, SettingsFile& settings, bool readLast)
    : QDialog(parent), m_settings(settings) {
  setWindowTitle("Open");
  setModal(true);
  resize(800, 600);
  drives = new QComboBox(this);
  for (const QStorageInfo& v : QStorageInfo::mountedVolumes())
    if (v.isValid() && v.isReady()) drives->addItem(v.rootPath());
  folders = new QListWidget(this);
  folders->setStyleSheet(kNavyAqua);
  files = new QListWidget(this);
  files->setStyleSheet(kNavyAqua);
  files->setSelectionMode(QAbstractItemView::ExtendedSelection);
  filter = new QComboBox(this);
  filter->addItem("ASCII Data files (*.dat)", "*.dat");
  filter->addItem("All Files", "*");
  add = new QPushButton("Add", this);
  remove = new QPushButton("Remove", this);
  addAllButton = new QPushButton("Add All", this);
  previewBox = new QCheckBox("Preview", this);
  chosen = new QListWidget(this);
  chosen->setSelectionMode(QAbstractItemView::ExtendedSelection);
  QFont f("Arial");
  f.setPixelSize(12);
  f.setBold(true);
  chosen->setFont(f);
  chosen->setStyleSheet("QListWidget { background: black; color: lime; }");
  ok = new QPushButton("OK", this);
  cancel = new QPushButton("Cancel", this);
  for (QPushButton* b : {add, remove, addAllButton, ok, cancel}) b->setAutoDefault(false);
  m_previewWindow = new FilePreview(this);
  // The parts by name, for tests and style sheets.
  const std::pair<QObject*, const char*> parts[] = {
      {drives, "drives"}, {folders, "folders"}, {files, "files"},         {filter, "filter"},
      {add, "add"},       {remove, "remove"},   {addAllButton, "addAll"}, {previewBox, "preview"},
      {chosen, "chosen"}, {ok, "ok"},           {cancel, "cancel"}};
  for (const auto& [part, name] : parts) part->setObjectName(name);

  auto* left = new QVBoxLayout;
  left->addWidget(drives);
  left->addWidget(folders);
  auto* leftBox = new QWidget(this);
  leftBox->setLayout(left);
  leftBox->setFixedWidth(225);
  auto* middle = new QVBoxLayout;
  middle->addWidget(files);
  middle->addWidget(filter);
  auto* strip = new QVBoxLayout;
  strip->addWidget(add);
  strip->addWidget(remove);
  strip->addWidget(addAllButton);
  strip->addWidget(previewBox);
  strip->addStretch();
  auto* chosenColumn = new QHBoxLayout;
  chosenColumn->addLayout(strip);
  chosenColumn->addWidget(chosen);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* right = new QVBoxLayout;
  right->addLayout(chosenColumn);
  right->addLayout(buttons);
  auto* rightBox = new QWidget(this);
  rightBox->setLayout(right);
  rightBox->setFixedWidth(352);
  auto* l = new QHBoxLayout(this);
  l->addWidget(leftBox);
  l->addLayout(middle, 1);
  l->addWidget(rightBox);

  connect(drives, &QComboBox::activated, this,
          [this](int i) { setCurrentDirectory(drives->itemText(i)); });
  connect(folders, &QListWidget::itemDoubleClicked, this,
          [this](QListWidgetItem* item) { openFolderRow(item); });
  connect(filter, &QComboBox::currentIndexChanged, this, [this] { refreshFiles(); });
  connect(files, &QListWidget::itemDoubleClicked, this, [this] { addSelected(); });
  connect(files, &QListWidget::itemClicked, this, [this] {
    if (previewBox->isChecked()) preview();
  });
  connect(add, &QPushButton::clicked, this, [this] { addSelected(); });
  connect(addAllButton, &QPushButton::clicked, this, [this] { addAll(); });
  connect(remove, &QPushButton::clicked, this, [this] { removeSelected(); });
  connect(previewBox, &QCheckBox::clicked, this, [this] { preview(); });
  connect(ok, &QPushButton::clicked, this, [this] {
    try {
      m_settings.writeString("Directories", "Last", m_dir.toStdString());
    } catch (const std::exception&) {
      // The dialog still closes; the folder is only not remembered.
    }
    accept();
  });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  folders->installEventFilter(this);
  chosen->installEventFilter(this);

  QString start = QDir::currentPath();
  if (readLast) {
    const QString last = QString::fromStdString(
        m_settings.readString("Directories", "Last", QDir::homePath().toStdString()));
    start = last;
  }
  if (!setCurrentDirectory(start)) setCurrentDirectory(QDir::homePath());
}

QStringList OpenFilesDialog::chosenNames() const {
  QStringList names;
  for (int i = 0; i < chosen->count(); ++i) names << chosen->item(i)->text();
  return names;
}

void OpenFilesDialog::clearChosen() {
  chosen->clear();
  m_paths.clear();
}

bool OpenFilesDialog::setCurrentDirectory(const QString& dir) {
  QFileInfo info(dir);
  if (!info.isDir()) return false;
  m_dir = QDir(info.absoluteFilePath()).absolutePath();
  for (int i = 0; i < drives->count(); ++i) {
    const QString root = drives->itemText(i);
    if (m_dir.startsWith(root) && drives->currentText().size() <= root.size() &&
        (m_dir == root || root.endsWith('/') || m_dir.startsWith(root + "/")))
      drives->setCurrentIndex(i);
  }
  refreshFolders();
  refreshFiles();
  return true;
}

QString OpenFilesDialog::fullPath(const QString& name) const {
  return m_dir.endsWith('/') ? m_dir + name : m_dir + "/" + name;
}

void OpenFilesDialog::refreshFolders() {
  folders->clear();
  // The chain of folders from the root down to the current one, then the
  // current folder's subfolders, indented as a tree.
  QStringList chain;
  QDir d(m_dir);
  chain.prepend(d.absolutePath());
  while (d.cdUp()) chain.prepend(d.absolutePath());
  int depth = 0;
  for (const QString& p : chain) {
    const QString label = p == "/" ? "/" : QFileInfo(p).fileName();
    auto* item = new QListWidgetItem(QString(qsizetype{depth} * 2, ' ') + label, folders);
    item->setData(Qt::UserRole, p);
    ++depth;
  }
  folders->setCurrentRow(folders->count() - 1);
  const QStringList subs = QDir(m_dir).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
  for (const QString& s : subs) {
    auto* item = new QListWidgetItem(QString(qsizetype{depth} * 2, ' ') + s, folders);
    item->setData(Qt::UserRole, fullPath(s));
  }
}

void OpenFilesDialog::refreshFiles() {
  files->clear();
  const QString mask = filter->currentData().toString();
  files->addItems(QDir(m_dir).entryList({mask}, QDir::Files, QDir::Name));
  if (files->count() > 0) files->setCurrentRow(0, QItemSelectionModel::NoUpdate);
}

void OpenFilesDialog::openFolderRow(QListWidgetItem* item) {
  if (item) setCurrentDirectory(item->data(Qt::UserRole).toString());
}

void OpenFilesDialog::addName(const QString& name) {
  chosen->addItem(name);
  m_paths << fullPath(name);
}

void OpenFilesDialog::addSelected() {
  for (int i = 0; i < files->count(); ++i)
    if (files->item(i)->isSelected()) addName(files->item(i)->text());
}

void OpenFilesDialog::addAll() {
  for (int i = 0; i < files->count(); ++i) addName(files->item(i)->text());
}

void OpenFilesDialog::removeSelected() {
  for (int k = chosen->count() - 1; k >= 0; --k) {
    if (!chosen->item(k)->isSelected()) continue;
    delete chosen->takeItem(k);
    m_paths.removeAt(k);
  }
  chosen->setFocus();
}

void OpenFilesDialog::preview() {
  if (files->count() > 0 && files->currentItem()) {
    const QString name = files->currentItem()->text();
    m_previewWindow->showFile(name, fullPath(name));
  }
  if (previewBox->isChecked()) {
    m_previewWindow->show();
    activateWindow();
  } else {
    m_previewWindow->hide();
  }
}

void OpenFilesDialog::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  setCurrentDirectory(m_dir);
}

void OpenFilesDialog::done(int result) {
  m_previewWindow->hide();
  QDialog::done(result);
}

bool OpenFilesDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    auto* e = static_cast<QKeyEvent*>(event);
    if (watched == folders && e->key() == Qt::Key_Space) {
      openFolderRow(folders->currentItem());
      return true;
    }
    if (watched == chosen && (e->key() == Qt::Key_Delete || e->text() == ".")) {
      removeSelected();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace varnix
