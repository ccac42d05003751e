-- Tarpelix: capture the focused Ghostty terminal and type text into it.

on capturetarget()
	tell application id "com.mitchellh.ghostty"
		set theWindow to front window
		set theTab to selected tab of theWindow
		set theTerminal to focused terminal of theTab
		return {id of theWindow, id of theTab, id of theTerminal, tty of theTerminal}
	end tell
end capturetarget

on inserttext(windowID, tabID, terminalID, ttyPath, theText)
	tell application id "com.mitchellh.ghostty"
		set theWindow to first window whose id is windowID
		set theTab to first tab of theWindow whose id is tabID
		set theTerminal to focused terminal of theTab
		if id of theTerminal is not terminalID or tty of theTerminal is not ttyPath then
			error "The captured terminal is no longer focused in its tab." number -1728
		end if
		input text theText to theTerminal
	end tell
end inserttext
