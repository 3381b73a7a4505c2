// The compiled interface resources (":/image/…", ":/qss/…", ":/frameless/shadow/…")
// and the font set-up the style sheets rely on.
//
// Call both once on the GUI thread after the QApplication exists and before the
// first widget loads an image or a style sheet. The resources live in a static
// library, so nothing registers them unless InitResources runs.
#ifndef QNCHAT_RESOURCES_RESOURCES_H_
#define QNCHAT_RESOURCES_RESOURCES_H_

namespace qnres {

// Registers the compiled resource tree. Safe to call more than once.
void InitResources();

// Maps the Windows font names the interface asks for ("微软雅黑", "Microsoft YaHei"
// and spellings) to the installed Noto Sans CJK family, so Chinese text and the
// layout metrics match on Linux. Does nothing for names already installed.
void InstallFontFallbacks();

}  // namespace qnres

#endif  // QNCHAT_RESOURCES_RESOURCES_H_
