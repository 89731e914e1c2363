#include "ui/provider_presets.h"

#include "texts/texts.h"
#include "ui/message_box.h"
#include "ui/ui_text.h"

#include <QString>

#include <optional>

namespace {

std::optional<ProviderCatalog>& Cache() {
    static std::optional<ProviderCatalog> catalog;
    return catalog;
}

}  // namespace

const std::vector<Provider>& ProviderPresets(QWidget* boxParent) {
    std::optional<ProviderCatalog>& cache = Cache();
    if (!cache) {
        cache = LoadUserProviderCatalog();
        if (!cache->userFileError.empty()) {
            ShowMessageBox(boxParent, Text(texts::settings::kUserPresetsUnreadable)
                                          .arg(QString::fromStdString(UserProvidersPath()),
                                               QString::fromStdString(cache->userFileError)));
        }
    }
    return cache->providers;
}

void ForgetProviderPresets() {
    Cache().reset();
}
