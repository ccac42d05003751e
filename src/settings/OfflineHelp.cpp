#include "settings/OfflineHelp.h"

namespace tarpelix::OfflineHelp {

std::string title(Destination destination) {
    switch (destination) {
    case Destination::permissions:
        return "Open Permissions";
    case Destination::storage:
        return "Open Storage";
    case Destination::diagnostics:
        return "Open Diagnostics";
    case Destination::general:
        return "Open General";
    }
    return {};
}

const std::string pasteGuide = "Copy an image, focus your remote agent’s input in Ghostty, iTerm2, or "
                               "Terminal.app, and press Control+V.";
const std::string pasteDetail =
    "Tarpelix uploads the image over SSH to the machine you are connected to and inserts the uploaded file’s "
    "path into the input. You can then add your instructions and send the message yourself.";

namespace {

// Paragraphs joined by one empty line.
std::string paragraphs(std::initializer_list<const char*> texts) {
    std::string body;
    for (const char* text : texts) {
        if (!body.empty()) body += "\n\n";
        body += text;
    }
    return body;
}

} // namespace

const std::vector<Section>& sections() {
    static const std::vector<Section> list = {
        {"About Tarpelix",
         InterfaceIcon::image,
         paragraphs({
             "When you run a CLI coding agent on a remote machine over SSH or mosh, the agent cannot "
             "directly access your Mac’s clipboard. Copying a screenshot on your Mac does not make it "
             "available on the remote machine. To share it with the agent, you would otherwise need to save "
             "the image, upload it, and provide its remote path in the agent session.",
             "Tarpelix handles those steps from your Mac’s menu bar. Images are saved in "
             "~/.cache/tarpelix/uploads/ under your remote user’s home directory.",
             "Local agents: Image paste continues to work as usual when your agent runs locally on your Mac.",
             "tmux: Works with tmux on your Mac, on the remote server, or both.",
             "Multiple remote machines: Tarpelix detects the connection in your focused terminal session and "
             "uploads to that machine. You do not need to select a destination in the app.",
             "Multiple monitors: Use your terminal across multiple displays. The paste status appears on the "
             "display containing the focused terminal.",
         }),
         std::nullopt,
         {"~/.cache/tarpelix/uploads/"}},
        {"Check your Mac and terminal",
         InterfaceIcon::terminal,
         paragraphs({
             "Open Apple menu → About This Mac. You need an Apple silicon Mac (M1 or later) and macOS 15.7 "
             "or later.",
             "Ghostty: Tarpelix requires the latest prerelease of Ghostty. The latest stable build doesn't "
             "have the features we need to make this app work. Open your Ghostty configuration and add this "
             "line:",
             "auto-update-channel = tip",
             "Quit and reopen Ghostty. Choose Ghostty → Check for Updates… and install the update.",
             "iTerm2: Update to the latest stable version of iTerm2.",
             "Terminal.app: Use the Terminal app included with macOS. No separate update is needed.",
         }),
         std::nullopt,
         {"auto-update-channel = tip"}},
        {"Permissions",
         InterfaceIcon::permissions,
         paragraphs({
             "Follow the setup window and select your terminal. Keep that terminal open while granting "
             "permissions.",
             "Accessibility: Allow Tarpelix to detect Control+V and insert image paths.",
             "Automation: Allow Tarpelix to control the terminal you selected. Grant access separately for "
             "each terminal you use.",
             "Clipboard: Choose Request Access…, then set Tarpelix to Always Allow in macOS System Settings.",
             "Return to setup after granting access. If you close it, choose TR → Resume Setup. Permissions "
             "are also available under TR → Settings → Permissions.",
             "Until permissions are ready, Control+V works as usual. If permissions are ready, reopen "
             "Tarpelix or use Keyboard troubleshooting on the Permissions page. Screen Recording isn’t "
             "needed.",
         }),
         Destination::permissions,
         {}},
        {"Check your remote connection",
         InterfaceIcon::network,
         paragraphs({
             "From a normal shell in your Mac’s terminal, connect using ssh my-server or ssh user@host.",
             "Replace my-server with your SSH alias, or user@host with your remote username and hostname. "
             "Use the SSH client included with macOS. Put custom ports, keys, and jump-host settings in "
             "~/.ssh/config so your connection command stays this simple.",
             "Tarpelix needs to connect over SSH without asking for a password, key passphrase, or "
             "confirmation.",
             "Use mosh 1.4 or later with a plain connection command: mosh my-server or mosh user@host. "
             "Images still upload over SSH. SSH must remain reachable while you use mosh.",
             "Check your network or VPN and SSH key setup. For a new server, connect normally first and "
             "verify its host-key fingerprint with your server administrator before accepting it. Keep "
             "host-key checking enabled. If your key is available only through your terminal’s environment, "
             "configure IdentityFile or IdentityAgent in ~/.ssh/config so Tarpelix can also use it.",
         }),
         std::nullopt,
         {"ssh my-server", "ssh user@host", "~/.ssh/config", "mosh my-server", "mosh user@host",
          "IdentityFile", "IdentityAgent"}},
        {"Supported sessions",
         InterfaceIcon::terminal,
         paragraphs({
             "Image paste continues to work as usual when your agent runs locally on your Mac. Command+V and "
             "nonimage pastes work as usual. Local pastes never upload images.",
             "Local and remote tmux work. Leave copy mode, prefix mode, and the : prompt before pasting. "
             "Keep the remote pane stable; its changes can’t be tracked.",
             "Quit Tarpelix for unsupported sessions: nested SSH, containers, sudo/su, custom SSH commands, "
             "nested local multiplexers, or broadcast input.",
         }),
         std::nullopt,
         {"sudo/su"}},
        {"Paste your first image",
         InterfaceIcon::image,
         paragraphs({
             "1. Connect to your remote machine and start your coding agent. Use an agent like Codex, Claude "
             "Code, OpenCode, or Pi with a model that can read images.",
             "2. On your Mac, press Control+Shift+Command+4 and select a small area containing recognizable "
             "text. This copies a screenshot to the clipboard.",
             "3. Focus the remote agent’s message input and press Control+V.",
             "4. Wait for the uploaded image’s path to appear. Keep the terminal and pane focused while it "
             "uploads.",
             "5. Add a request such as “Read this image and tell me what text it contains.” Send the message "
             "yourself. Allow the agent to read the file if it asks.",
             "Check that the agent describes the image correctly. A path appearing in the input confirms "
             "neither that you sent the message nor that the agent read the image.",
         }),
         std::nullopt,
         {}},
        {"If the first paste does not work",
         InterfaceIcon::network,
         paragraphs({
             "Nothing happens: Check TR → Settings → Permissions and focus the agent’s input. Use Control+V "
             "with an image copied to the clipboard; copying a file in Finder is different. If permissions "
             "are ready, reopen Tarpelix or use Keyboard troubleshooting on the Permissions page.",
             "The upload fails: Open TR → Last Paste Status, then check your network or VPN and SSH key "
             "setup.",
             "The agent cannot read the image: Check that it runs on the original remote machine and user "
             "account, has permission to read the file, and uses a model that supports images.",
             "After reconnecting, check the input before pasting again: a path may arrive late. Tarpelix "
             "never retries automatically.",
         }),
         std::nullopt,
         {}},
        {"Recover a paste",
         InterfaceIcon::recovery,
         paragraphs({
             "Open Last Paste Status in the TR menu for the latest result. Its copy actions belong to that "
             "attempt.",
             "Copy Last Uploaded Path retrieves the latest confirmed upload, even after a newer failure. "
             "Check the remote session before pasting.",
             "Copy Last Image retrieves the newest image, possibly from a different attempt. Copy actions "
             "replace your clipboard.",
             "If delivery is uncertain, check the input before pasting again. A path appearing in the input "
             "confirms neither that you sent the message nor that the agent read the image.",
         }),
         std::nullopt,
         {}},
        {"Storage & privacy",
         InterfaceIcon::storage,
         paragraphs({
             "Local images use up to 1 GB, oldest removed first. Transfer records stay until you clear local "
             "data. Oversized images still upload. If saving fails, the image may be lost when replaced, "
             "cleared, or you quit.",
             "Images are saved in ~/.cache/tarpelix/uploads/ under your remote user’s home directory. Images "
             "stay on the remote machine until you delete them. Clearing Tarpelix’s local data does not "
             "remove remote files. It also leaves preferences and permissions intact. On the intended host, "
             "as the uploading user, delete only unneeded images. Their path references will break.",
             "Images go over SSH to your session’s destination. No analytics or background clipboard "
             "polling. Your clipboard stays unchanged unless you choose a copy action.",
         }),
         Destination::storage,
         {"~/.cache/tarpelix/uploads/"}},
        {"Diagnostics",
         InterfaceIcon::diagnostics,
         paragraphs({
             "Review a report in Diagnostics, then choose Save… to export it. Nothing is sent automatically. "
             "Cancel saves nothing.",
             "Reports exclude images, hosts, usernames, paths, and command output. Transfer records contain "
             "destination and path details.",
             "Logs are kept for 7 days / 5 MB and cleared separately from images. Delete exported reports "
             "yourself. Help and previews work offline.",
         }),
         Destination::diagnostics,
         {}},
        {"Setup & updates",
         InterfaceIcon::general,
         paragraphs({
             "Open the DMG and drag Tarpelix into Applications. Open Tarpelix from Applications. It runs in "
             "the menu bar under TR.",
             "Follow the setup window and select your terminal. Return to setup to finish and choose whether "
             "Tarpelix should launch at login. Keep Tarpelix open when you want to use it.",
             "If you close setup, choose TR → Resume Setup. Try First Paste is also in the TR menu. Try "
             "later skips practice; a successful remote paste completes it later.",
             "Choose Enable Launch at Login or Not now to finish setup. Not now keeps your current login "
             "setting. Pending approval doesn’t block setup. Change login, overlay, and daily updates in "
             "General.",
             "Use Check for Updates… in General. You choose when to download and install. Update checks send "
             "only connection details and app versions, never paste data.",
             "If an update fails, you can keep using the current app or quit and replace it with a verified "
             "release. Keep your app data; older releases may not support newer data.",
         }),
         Destination::general,
         {}},
    };
    return list;
}

} // namespace tarpelix::OfflineHelp
