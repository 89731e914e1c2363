#include "ui/provider_presets.h"

#include "ui/message_box.h"

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
            ShowMessageBox(boxParent, QString::fromUtf8("プロバイダー設定ファイルを読み込めませんでした。"
                                                        "このファイルは使わずに続けます。\n%1\n%2")
                                          .arg(QString::fromStdString(UserProvidersPath()),
                                               QString::fromStdString(cache->userFileError)));
        }
    }
    return cache->providers;
}

void ForgetProviderPresets() {
    Cache().reset();
}
