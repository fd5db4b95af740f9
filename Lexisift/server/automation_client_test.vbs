' The three classes of Lexisift as a scripting client meets them: created by ProgID, every
' member called through IDispatch by names, arguments passed the way VBScript passes them
' (literals by value, variables by reference).
'   cscript //nologo automation_client_test.vbs SCRATCH_FOLDER
Option Explicit

Dim failures : failures = 0
Dim checks : checks = 0
Dim fso : Set fso = CreateObject("Scripting.FileSystemObject")
Dim folder : folder = WScript.Arguments(0)

' A call that fails leaves its error in Err and goes on with the next statement; every
' check first reports such an error. Values are read into variables before they are
' checked, so that a failed read cannot skip the check itself.
On Error Resume Next

Sub Check(condition, what)
  checks = checks + 1
  If Err.Number <> 0 Then
    WScript.Echo "FAIL  " & what & ": error " & Hex(Err.Number) & " " & Err.Description
    failures = failures + 1
    Err.Clear
  ElseIf condition Then
    WScript.Echo "ok    " & what
  Else
    WScript.Echo "FAIL  " & what
    failures = failures + 1
  End If
End Sub

Sub WriteText(path, text)
  Dim stream : Set stream = fso.CreateTextFile(path, True)
  stream.Write text
  stream.Close
End Sub

Function ReadText(path)
  Dim stream : Set stream = fso.OpenTextFile(path, 1)
  ReadText = stream.ReadAll
  stream.Close
End Function

' --- MailFilter ---
Dim store : store = folder & "\Kestrelon.dat"
Dim mails : mails = folder & "\mails"
fso.CreateFolder mails
WriteText mails & "\one.eml", "Subject: lunch" & vbCrLf & vbCrLf & "sandwich salad"
WriteText mails & "\two.eml", "Subject: lunch" & vbCrLf & vbCrLf & "soup bread"

Dim f, ham, spam, value
Set f = CreateObject("Lexisift.MailFilter")
f.Init store
Check Err.Number = 0, "CreateObject and Init"

' Counts of the filter's store in ham, spam.
Sub Counts()
  ham = -1 : spam = -1
  ham = f.ItemsCount(False)
  spam = f.ItemsCount(True)
End Sub

f.AddMailStream "Subject: cheap pills", "buy cheap pills now", True
Counts
Check ham = 0 And spam = 1, "AddMailStream learns spam"
Dim header : header = "Subject: meeting"
Dim body : body = "agenda of the meeting"
value = Empty
value = f.ProcessMailStream(header, body)
Counts
Check value = False And ham = 1, "ProcessMailStream with variables: ham, learnt"
f.DeleteMailStream "Subject: meeting", "agenda of the meeting", False
Counts
Check ham = 0, "DeleteMailStream"
f.SwapMailStream "Subject: cheap pills", "buy cheap pills now", False
Counts
Check ham = 1 And spam = 0, "SwapMailStream"

f.AddMailFile mails & "\one.eml", True
Counts
Check ham = 1 And spam = 1, "AddMailFile"
f.SwapMailFile mails & "\one.eml", False
Counts
Check ham = 2 And spam = 0, "SwapMailFile"
f.DeleteMailFile mails & "\one.eml", False
Counts
Check ham = 1, "DeleteMailFile"
value = Empty
value = f.ProcessMailFile(mails & "\two.eml")
Counts
Check value = False And ham = 2, "ProcessMailFile"
f.ProcessMailDirectory mails
Counts
Check ham = 4, "ProcessMailDirectory learns both files"

value = -1
value = f.NumOfToken
Check value > 0, "NumOfToken: " & value
value = -1
value = f.SizeOnRam
Check value = 28, "SizeOnRam: " & value
value = -1
value = f.SizeOnDisk
Check value > 0, "SizeOnDisk: " & value
f.Dump folder & "\dump.txt"
value = ReadText(folder & "\dump.txt")
Check InStr(value, " sandwich" & vbCrLf) > 0, "Dump lists the tokens"

f.HTTPScanTimeout = 0
value = -1
value = f.HTTPScanTimeout
Check value = 0, "HTTPScanTimeout put 0, get: " & value
f.ContentType = 1
value = -1
value = f.ContentType
Check value = 1, "ContentType put 1, get: " & value
f.ContentType = 0

Dim probability : probability = 5
value = 0
value = f.TokensMap("Subject: cheap", "pills", probability)
Check value <> 0, "TokensMap hands back the table's address"
Check probability >= 0 And probability < 1, "TokensMap writes the score back: " & probability
value = -1
value = f.ReadItemCounter(store)
Check value = 4, "ReadItemCounter packs the counters: " & value
Set f = Nothing

' --- LockedMailFilter ---
Dim shared : shared = folder & "\shared.dat"
Dim l
Set l = CreateObject("Lexisift.LockedMailFilter")
l.AddMailStream shared, "Subject: offer", "cheap pills", True
l.AddMailStream shared, "Subject: offer", "cheap pills", True
value = Empty
value = l.ProcessMailStream(shared, "Subject: minutes", "of the meeting")
Check value = False, "locked AddMailStream and ProcessMailStream"
l.SwapMailStream shared, "Subject: offer", "cheap pills", False
l.DeleteMailStream shared, "Subject: minutes", "of the meeting", False
ham = -1 : spam = -1
l.GetHamSpamCount shared, ham, spam
Check ham = 1 And spam = 1, "SwapMailStream, DeleteMailStream; GetHamSpamCount writes both back: " & ham & " " & spam
l.Marker(shared, "message-1") = 2
value = -1
value = l.Marker(shared, "message-1")
Check value = 2, "Marker put 2, get: " & value
value = -1
value = l.Marker(shared, "message-2")
Check value = 0, "Marker of an unknown message: " & value
Set l = Nothing

' --- Log ---
Dim logPath : logPath = folder & "\Kestrelon.log"
Dim g
Set g = CreateObject("Lexisift.Log")
g.Init logPath
g.LogError "InitPluginData", "no Inbox"
g.LogInfo "Spam Mail deleted" & vbCrLf
Set g = Nothing
value = ""
value = ReadText(logPath)
Check InStr(value, " Error in function: InitPluginData - Error: no Inbox" & vbCrLf) > 0, "LogError line"
Check Right(value, 19) = "Spam Mail deleted" & vbCrLf, "LogInfo text"

If failures = 0 Then
  WScript.Echo "all " & checks & " checks passed"
Else
  WScript.Echo failures & " of " & checks & " checks failed"
End If
WScript.Quit failures
