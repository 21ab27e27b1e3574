// CAbstractVantroSession: the protocol server's view of the store log-on of the
// device being synchronised: log-on, opening folders (by key, by path) and folder
// paths. One session serves every request of the process.
//
// Requests: BeginRequest at the start of every Vantro request and EndRequest at its
// end bracket what a request may see: the current device is set only by a
// successful Logon of the request, and change lists computed in an earlier request
// are computed afresh.
//
// Thread use: not locked; the protocol server runs one Vantro request at a time.
#pragma once

#include <map>
#include <string>

class CAbstractVantroFolder;

class CAbstractVantroSession {
public:
    virtual ~CAbstractVantroSession() = default;

    // The folder cached under key for the current device, or none. The base shows
    // the message box "OpenStockFolder not implemented" and returns none.
    virtual CAbstractVantroFolder* OpenStockFolder(const std::string& key);
    // Finds the device, makes it current, refreshes its default folders and
    // registers its name. False (and no current device) when it is not found.
    virtual bool Logon(const std::string& deviceId, const std::string& deviceName,
                       const std::string& userName, const std::string& password) = 0;
    // A folder by key (default-folder code, hexadecimal entry ID, or empty with a
    // class name); see the implementation. Owned by the session.
    virtual CAbstractVantroFolder* OpenFolder(const std::string& key, const std::string& className,
                                              bool isDefault) = 0;
    // A folder by path ("-4/Archive", "Projects/2010"), created when missing.
    virtual CAbstractVantroFolder* OpenFolderByPath(const std::string& path) = 0;
    // The path of folder for the protocol ("-4/Projekte"); empty when unknown.
    virtual std::string GetFolderPath(CAbstractVantroFolder* folder) = 0;
    // Stores a pair of names; the base inserts it into its name map and returns true.
    virtual bool StoreNames(const std::string& a, const std::string& b);

    // Start and end of a Vantro request (see the top of this file). The base does
    // nothing.
    virtual void BeginRequest() {}
    virtual void EndRequest() {}

    const std::map<std::string, std::string>& NameMap() const { return names_; }

protected:
    CAbstractVantroSession() = default;

private:
    std::map<std::string, std::string> names_;
};
