#include "view/icon.h"

#include <QPixmap>

#include "view/icon16.xpm"
#include "view/icon32.xpm"

namespace qm::view {

QIcon app_icon() {
    QIcon icon;
    icon.addPixmap(QPixmap(quillmere_icon32));
    icon.addPixmap(QPixmap(quillmere_icon16));
    return icon;
}

}  // namespace qm::view
