// Opens a .qch as an application ported from HTML Help opens its help, with Qt's help engine,
// and checks the page that documentsForIdentifier() gives for each context id.
// usage: help_ids QCH EXPECTED
// EXPECTED holds a line "ID<TAB>URL" for each id, "ID<TAB>" where the id must lead nowhere.
#include <QCoreApplication>
#include <QFile>
#include <QHelpEngineCore>
#include <QHelpLink>
#include <QTemporaryDir>
#include <QUrl>
#include <cstdio>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: help_ids QCH EXPECTED\n");
    return 2;
  }
  QTemporaryDir dir;
  QHelpEngineCore engine(dir.filePath("ids.qhc"));
  engine.setReadOnly(false);
  if (!engine.setupData() || !engine.registerDocumentation(QString::fromLocal8Bit(argv[1]))) {
    std::fprintf(stderr, "help_ids: %s\n", qPrintable(engine.error()));
    return 1;
  }
  QFile expected(QString::fromLocal8Bit(argv[2]));
  if (!expected.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "help_ids: cannot read %s\n", argv[2]);
    return 1;
  }
  int checked = 0;
  int wrong = 0;
  while (!expected.atEnd()) {
    const QString line = QString::fromUtf8(expected.readLine()).trimmed();
    const int tab = line.indexOf(QLatin1Char('\t'));
    if (line.isEmpty()) continue;
    const QString id = tab < 0 ? line : line.left(tab);
    const QString url = tab < 0 ? QString() : line.mid(tab + 1);
    const QList<QHelpLink> links = engine.documentsForIdentifier(id);
    ++checked;
    const bool right =
        url.isEmpty() ? links.isEmpty() : links.size() == 1 && links.first().url == QUrl(url);
    if (right) continue;
    if (++wrong <= 20) {
      QString got;
      for (const QHelpLink& link : links) got += QLatin1Char(' ') + link.url.toString();
      std::fprintf(stderr, "id %s: wanted %s, got%s\n", qPrintable(id),
                   url.isEmpty() ? "nothing" : qPrintable(url),
                   got.isEmpty() ? " nothing" : qPrintable(got));
    }
  }
  std::printf("%d ids, %d wrong\n", checked, wrong);
  return wrong == 0 && checked > 0 ? 0 : 1;
}
