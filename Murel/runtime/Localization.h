#pragma once

class QCoreApplication;

namespace murel {

// Loads the English texts (built from the qtTrId ids with lrelease -idbased)
// into the application. Returns false when the file is missing.
bool installTranslations(QCoreApplication& app);

}  // namespace murel
