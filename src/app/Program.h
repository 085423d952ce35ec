#pragma once

#include <memory>

class TAboutForm;
class TRepForm;
class TDirectoryForm;
class TKvartaEditForm;
class TKvartaFilterForm;
class TMainForm;
class TTableViewForm;

// The program's windows, created once in their fixed order and kept until the end.
class Program {
public:
    Program();
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Creates the windows, restores the settings and shows the main window. False when the
    // program has to end (the reason has been shown).
    bool start();

    TMainForm* mainForm() const { return m_main.get(); }
    TTableViewForm* tableViewForm() const { return m_tableView; }
    TAboutForm* aboutForm() const { return m_about; }
    TRepForm* reportForm() const { return m_report; }
    TDirectoryForm* directoryForm() const { return m_directory; }
    TKvartaFilterForm* filterForm() const { return m_filter; }
    TKvartaEditForm* editForm() const { return m_card; }

private:
    std::unique_ptr<TMainForm> m_main;
    // Owned by the main window.
    TTableViewForm* m_tableView = nullptr;
    TAboutForm* m_about = nullptr;
    TRepForm* m_report = nullptr;
    TDirectoryForm* m_directory = nullptr;
    TKvartaFilterForm* m_filter = nullptr;
    TKvartaEditForm* m_card = nullptr;
};
