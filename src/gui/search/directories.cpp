#include "gui/search/directories.h"

#include "core/personal/personalmodel.h"
#include "core/search/recordsource.h"
#include "gui/search/gridbinding.h"
#include "gui/window/controls.h"
#include "gui/window/datacontrol.h"
#include "gui/window/mainwindow.h"

namespace korvana {

Directories::Directories(MainWindow &window, Store *store, SearchImages *images, QObject *owner)
{
    for (DirectoryKind kind :
         {DirectoryKind::Residents, DirectoryKind::Enterprises, DirectoryKind::Personal}) {
        DirectoryView &v = m_views[index(kind)];
        v.kind = kind;
        v.controls = &window.directory(kind);
        v.source = new RecordSource(kind, owner);
        v.source->setStore(store);
        v.source->setImages(images);
        v.controls->data->setRecordSource(v.source);
        if (kind == DirectoryKind::Personal)
            v.model = m_personal = new PersonalModel(v.source, owner);
        else
            v.model = new DirectoryModel(v.source, owner);
        v.binding = new GridBinding(v.controls->grid, v.source, v.model, owner);
    }
}

} // namespace korvana
