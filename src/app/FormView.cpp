#include "app/FormView.h"

#include "app/MenuHandlers.h"

void connectForm(TMenuDialog& form, MenuHandlers& handlers)
{
    TMenuDialog::Handlers events;
    events.GameClick = [&handlers] { handlers.GameClick(); };
    events.EditorClick = [&handlers] { handlers.EditorClick(); };
    events.LoadTrackRadioClick = [&handlers] { handlers.LoadTrackRadioClick(); };
    events.loadButtonClick = [&handlers] { handlers.loadButtonClick(); };
    events.pathChange = [&handlers] { handlers.pathChange(); };
    events.FormKeyDown = [&handlers](int key) { handlers.FormKeyDown(key); };
    events.FormClose = [&form] { form.terminate(); };
    form.setHandlers(std::move(events));
}
