#pragma once

class QCoreApplication;

// Sets the zh_CN locale and loads Qt's own Chinese translations, so the
// toolkit's dialogs say 是/否/确定/取消. Returns false when Qt's translation
// files are not installed; the window then still works, with Qt's English.
bool useChineseLocale(QCoreApplication &app);
