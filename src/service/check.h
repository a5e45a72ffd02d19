#pragma once

namespace qiv {

class MainWindow;

// "检查域名": asks regcheck.php whether the name typed on the registration
// page is free under the chosen suffix and shows the answer beside the button.
void checkAvailability(MainWindow& window);

} // namespace qiv
