#include "Program.h"

#include "Database.h"
#include "Guard.h"
#include "TAboutForm.h"
#include "TDirectoryForm.h"
#include "TKvartaEditForm.h"
#include "TKvartaFilterForm.h"
#include "TMainForm.h"
#include "TRepForm.h"
#include "TTableViewForm.h"
#include "WaitWindow.h"

Program::Program() {
    // A unit of work that waits for another copy keeps the event loop going and, after a moment,
    // shows the wait window over the window that asked; start-up's reads too.
    Database::setWaiter({&OperationWait::pause, &OperationWait::finished});
}

Program::~Program() {
    // The windows and their query objects go before the connection they use.
    m_main.reset();
    Database::close();
    Database::setWaiter({});
    Database::setPasswordPrompt({});
}

bool Program::start() {
    m_main = std::make_unique<TMainForm>();
    TMainForm* main = m_main.get();
    bool created = false;
    if (!guard(main, [&] { created = main->FormCreate(); }) || !created)
        return false;
    const bool windowsCreated = guard(main, [&] {
        m_tableView = new TTableViewForm(main);
        m_about = new TAboutForm([main]() -> StoreQuery& { return main->mainQuery(); }, main);
        m_about->setCloseHandler([main] { main->SaveSettings(); });
        main->setAboutForm(m_about);
        m_directory = new TDirectoryForm(main);
        m_filter = new TKvartaFilterForm(m_directory, main);
        m_card = new TKvartaEditForm(m_directory, main);
        // The contact lock reads the password through the main window's query.
        m_card->setPasswordQuery([main]() -> StoreQuery& { return main->mainQuery(); });
        m_report = new TRepForm(main);
        main->setReportForm(m_report);
        main->setWindows(m_tableView, m_directory, m_filter, m_card);
    });
    if (!windowsCreated)
        return false;
    guard(main, [main] { main->LoadSettings(); });
    main->show();
    return true;
}
