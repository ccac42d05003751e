-- Tarpelix: capture the focused iTerm2 session and type text into it.

on capturetarget()
	tell application id "com.googlecode.iterm2"
		set theWindow to current window
		set theTab to current tab of theWindow
		set theSession to current session of theTab
		set tabNumber to 0
		repeat with i from 1 to count of tabs of theWindow
			if id of current session of tab i of theWindow is id of theSession then set tabNumber to i
		end repeat
		return {id of theWindow, tabNumber, id of theSession, tty of theSession}
	end tell
end capturetarget

on inserttext(windowID, tabNumber, sessionID, ttyPath, theText)
	tell application id "com.googlecode.iterm2"
		set theWindow to first window whose id is (windowID as integer)
		set theTab to tab (tabNumber as integer) of theWindow
		set theSession to first session of theTab whose id is sessionID
		if tty of theSession is not ttyPath then
			error "The captured session has another terminal." number -1728
		end if
		tell theSession to write text theText without newline
	end tell
end inserttext
