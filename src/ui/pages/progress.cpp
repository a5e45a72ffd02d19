#include "ui/pages/progress.h"

#include "ui/pages/builder.h"

namespace qiv {

ProgressTab::ProgressTab()
{
    setWhiteBackground(this);
    button(this, NAMED(按钮3), {66, 120, 140, 24}, "正在登录...")
        ->setFont(faceFont("宋体", 12, true));
}

} // namespace qiv
