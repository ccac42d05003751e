-- Tarpelix: capture the focused Terminal tab; text reaches Terminal as keyboard events.

on capturetarget()
	tell application id "com.apple.Terminal"
		set theWindow to front window
		set theTab to selected tab of theWindow
		set theTTY to tty of theTab
		set tabNumber to 0
		repeat with i from 1 to count of tabs of theWindow
			if tty of tab i of theWindow is theTTY then set tabNumber to i
		end repeat
		return {id of theWindow, tabNumber, theTTY, theTTY}
	end tell
end capturetarget
