#include "resources/resources.h"

#include <QFont>
#include <QFontDatabase>
#include <QStringList>

// Q_INIT_RESOURCE must not be expanded inside a namespace.
static void InitCompiledResources() { Q_INIT_RESOURCE(qnchat); }

namespace qnres {

void InitResources() { InitCompiledResources(); }

void InstallFontFallbacks() {
  const QStringList installed = QFontDatabase().families();
  QString target;
  for (const char* candidate : {"Noto Sans CJK SC", "Noto Sans CJK TC", "Noto Sans CJK JP"}) {
    if (installed.contains(QLatin1String(candidate), Qt::CaseInsensitive)) {
      target = QLatin1String(candidate);
      break;
    }
  }
  if (target.isEmpty()) return;
  const QStringList wanted = {QStringLiteral("微软雅黑"), QStringLiteral("Microsoft Yahei"),
                              QStringLiteral("Microsoft YaHei"), QStringLiteral("MicroSoft YaHei")};
  for (const QString& name : wanted) {
    if (installed.contains(name, Qt::CaseInsensitive)) continue;
    if (!QFont::substitutes(name).contains(target)) QFont::insertSubstitution(name, target);
  }
}

}  // namespace qnres
