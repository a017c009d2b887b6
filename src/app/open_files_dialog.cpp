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
  m_chart = new ChartView(this);
  m_chart->setColours(0, 12632256, 8421504, 16776960);
  m_chart->setMouseEnabled(false);
  auto* l = new QVBoxLayout(this);
  l->setContentsMargins(0, 0, 0, 0);
  l->addWidget(m_chart);
  resize(213, 179);
  move(583, 418);
}

int FilePreview::pointCount() const {
  return m_chart->seriesPointCount(0);
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
  m_chart->setSeries(0, s, 255);
  m_chart->setAxisAutomatic(ChartView::Axis::Bottom, true);
  m_chart->setAxisAutomatic(ChartView::Axis::Left, true);
  m_chart->redraw();
}

namespace {

const char* kNavyAqua = "QListWidget { background: navy; color: aqua; }";

}  // namespace

OpenFilesDialog::OpenFilesDialog(QWidget* parent, SettingsFile& settings, bool readLast)
    : QDialog(parent), m_settings(settings) {
  setWindowTitle("Open");
  setModal(true);
  resize(800, 600);
  m_drives = new QComboBox(this);
  for (const QStorageInfo& v : QStorageInfo::mountedVolumes())
    if (v.isValid() && v.isReady()) m_drives->addItem(v.rootPath());
  m_folders = new QListWidget(this);
  m_folders->setStyleSheet(kNavyAqua);
  m_files = new QListWidget(this);
  m_files->setStyleSheet(kNavyAqua);
  m_files->setSelectionMode(QAbstractItemView::ExtendedSelection);
  m_filter = new QComboBox(this);
  m_filter->addItem("ASCII Data files (*.dat)", "*.dat");
  m_filter->addItem("All Files", "*");
  m_add = new QPushButton("Add", this);
  m_remove = new QPushButton("Remove", this);
  m_addAllButton = new QPushButton("Add All", this);
  m_previewBox = new QCheckBox("Preview", this);
  m_chosen = new QListWidget(this);
  m_chosen->setSelectionMode(QAbstractItemView::ExtendedSelection);
  QFont f("Arial");
  f.setPixelSize(12);
  f.setBold(true);
  m_chosen->setFont(f);
  m_chosen->setStyleSheet("QListWidget { background: black; color: lime; }");
  m_ok = new QPushButton("OK", this);
  m_cancel = new QPushButton("Cancel", this);
  for (QPushButton* b : {m_add, m_remove, m_addAllButton, m_ok, m_cancel}) b->setAutoDefault(false);
  m_previewWindow = new FilePreview(this);
  // The parts by name, for tests and style sheets.
  const std::pair<QObject*, const char*> parts[] = {{m_drives, "drives"},
                                                    {m_folders, "folders"},
                                                    {m_files, "files"},
                                                    {m_filter, "filter"},
                                                    {m_add, "add"},
                                                    {m_remove, "remove"},
                                                    {m_addAllButton, "addAll"},
                                                    {m_previewBox, "preview"},
                                                    {m_chosen, "chosen"},
                                                    {m_ok, "ok"},
                                                    {m_cancel, "cancel"}};
  for (const auto& [part, name] : parts) part->setObjectName(name);

  auto* left = new QVBoxLayout;
  left->addWidget(m_drives);
  left->addWidget(m_folders);
  auto* leftBox = new QWidget(this);
  leftBox->setLayout(left);
  leftBox->setFixedWidth(225);
  auto* middle = new QVBoxLayout;
  middle->addWidget(m_files);
  middle->addWidget(m_filter);
  auto* strip = new QVBoxLayout;
  strip->addWidget(m_add);
  strip->addWidget(m_remove);
  strip->addWidget(m_addAllButton);
  strip->addWidget(m_previewBox);
  strip->addStretch();
  auto* chosenColumn = new QHBoxLayout;
  chosenColumn->addLayout(strip);
  chosenColumn->addWidget(m_chosen);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(m_ok);
  buttons->addWidget(m_cancel);
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

  connect(m_drives, &QComboBox::activated, this,
          [this](int i) { setCurrentDirectory(m_drives->itemText(i)); });
  connect(m_folders, &QListWidget::itemDoubleClicked, this,
          [this](QListWidgetItem* item) { openFolderRow(item); });
  connect(m_filter, &QComboBox::currentIndexChanged, this, [this] { refreshFiles(); });
  connect(m_files, &QListWidget::itemDoubleClicked, this, [this] { addSelected(); });
  connect(m_files, &QListWidget::itemClicked, this, [this] {
    if (m_previewBox->isChecked()) preview();
  });
  connect(m_add, &QPushButton::clicked, this, [this] { addSelected(); });
  connect(m_addAllButton, &QPushButton::clicked, this, [this] { addAll(); });
  connect(m_remove, &QPushButton::clicked, this, [this] { removeSelected(); });
  connect(m_previewBox, &QCheckBox::clicked, this, [this] { preview(); });
  connect(m_ok, &QPushButton::clicked, this, [this] {
    try {
      m_settings.writeString("Directories", "Last", m_dir.toStdString());
    } catch (const std::exception&) {
      // The dialog still closes; the folder is only not remembered.
    }
    accept();
  });
  connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
  m_folders->installEventFilter(this);
  m_chosen->installEventFilter(this);
  // Enter on a focused button presses it, as Space does (none of them is
  // the dialog's default: Enter in the lists belongs to the lists).
  for (QPushButton* b : {m_add, m_remove, m_addAllButton, m_ok, m_cancel})
    b->installEventFilter(this);

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
  for (int i = 0; i < m_chosen->count(); ++i) names << m_chosen->item(i)->text();
  return names;
}

void OpenFilesDialog::clearChosen() {
  m_chosen->clear();
  m_paths.clear();
}

bool OpenFilesDialog::setCurrentDirectory(const QString& dir) {
  QFileInfo info(dir);
  if (!info.isDir()) return false;
  m_dir = QDir(info.absoluteFilePath()).absolutePath();
  for (int i = 0; i < m_drives->count(); ++i) {
    const QString root = m_drives->itemText(i);
    if (m_dir.startsWith(root) && m_drives->currentText().size() <= root.size() &&
        (m_dir == root || root.endsWith('/') || m_dir.startsWith(root + "/")))
      m_drives->setCurrentIndex(i);
  }
  refreshFolders();
  refreshFiles();
  return true;
}

QString OpenFilesDialog::fullPath(const QString& name) const {
  return m_dir.endsWith('/') ? m_dir + name : m_dir + "/" + name;
}

void OpenFilesDialog::refreshFolders() {
  m_folders->clear();
  // The chain of folders from the root down to the current one, then the
  // current folder's subfolders, indented as a tree.
  QStringList chain;
  QDir d(m_dir);
  chain.prepend(d.absolutePath());
  while (d.cdUp()) chain.prepend(d.absolutePath());
  int depth = 0;
  for (const QString& p : chain) {
    const QString label = p == "/" ? "/" : QFileInfo(p).fileName();
    auto* item = new QListWidgetItem(QString(qsizetype{depth} * 2, ' ') + label, m_folders);
    item->setData(Qt::UserRole, p);
    ++depth;
  }
  m_folders->setCurrentRow(m_folders->count() - 1);
  const QStringList subs = QDir(m_dir).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
  for (const QString& s : subs) {
    auto* item = new QListWidgetItem(QString(qsizetype{depth} * 2, ' ') + s, m_folders);
    item->setData(Qt::UserRole, fullPath(s));
  }
}

void OpenFilesDialog::refreshFiles() {
  m_files->clear();
  const QString mask = m_filter->currentData().toString();
  m_files->addItems(QDir(m_dir).entryList({mask}, QDir::Files, QDir::Name));
  if (m_files->count() > 0) m_files->setCurrentRow(0, QItemSelectionModel::NoUpdate);
}

void OpenFilesDialog::openFolderRow(QListWidgetItem* item) {
  if (item) setCurrentDirectory(item->data(Qt::UserRole).toString());
}

void OpenFilesDialog::addName(const QString& name) {
  m_chosen->addItem(name);
  m_paths << fullPath(name);
}

void OpenFilesDialog::addSelected() {
  for (int i = 0; i < m_files->count(); ++i)
    if (m_files->item(i)->isSelected()) addName(m_files->item(i)->text());
}

void OpenFilesDialog::addAll() {
  for (int i = 0; i < m_files->count(); ++i) addName(m_files->item(i)->text());
}

void OpenFilesDialog::removeSelected() {
  for (int k = m_chosen->count() - 1; k >= 0; --k) {
    if (!m_chosen->item(k)->isSelected()) continue;
    delete m_chosen->takeItem(k);
    m_paths.removeAt(k);
  }
  m_chosen->setFocus();
}

void OpenFilesDialog::preview() {
  if (m_files->count() > 0 && m_files->currentItem()) {
    const QString name = m_files->currentItem()->text();
    m_previewWindow->showFile(name, fullPath(name));
  }
  if (m_previewBox->isChecked()) {
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
    if (watched == m_folders && e->key() == Qt::Key_Space) {
      openFolderRow(m_folders->currentItem());
      return true;
    }
    if (watched == m_chosen && (e->key() == Qt::Key_Delete || e->text() == ".")) {
      removeSelected();
      return true;
    }
    if (auto* button = qobject_cast<QPushButton*>(watched);
        button && (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter)) {
      button->click();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace varnix
