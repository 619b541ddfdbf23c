program UdpEventSink;

{ UdpSocket's events in a console program: a sink of our own connected to _DUdpEvents, and a
  message pump of our own (a console program has no message loop, and every event arrives
  through this thread's messages). It opens a port, sends a datagram to a service name that does
  not exist so that WsError comes and cancels the close, then has a line echoed by a UDP echo
  service and closes: Ready, WsError, Sent, Received, Closed.
  Usage: UdpEventSink <port> [host]           (udp.ocx registered with regsvr32) }

{$APPTYPE CONSOLE}
{$IFDEF FPC}{$MODE DELPHI}{$ENDIF}

uses
  SysUtils, Variants, ActiveX, ComObj, UdpBytes, UdpEvents;

const
  EventTimeout = 3000; { ms }

{ Raises an exception when the event did not come in time. }
procedure Expect(Sink: TUdpEventSink; DispId: Integer; const What: string);
begin
  if not Sink.WaitFor(DispId, EventTimeout) then
    raise Exception.CreateFmt('no %s within %d ms', [What, EventTimeout]);
end;

function Run(const Host, Port: string): Integer;
var
  Socket: IDispatch;
  Udp: Variant;
  Sink: TUdpEventSink;
  SinkRef: IUnknown; { holds the sink: it is reference counted }
  Cookie: TConnectionCookie;
begin
  Socket := CreateOleObject('UDP.UdpSocket');
  Udp := Socket;
  Sink := TUdpEventSink.Create;
  SinkRef := Sink;
  InterfaceConnect(Socket, DIID_DUdpEvents, SinkRef, Cookie);
  if Cookie = 0 then
    raise Exception.Create('the sink could not be connected to _DUdpEvents');
  try
    Udp.Open(string('0'));
    Expect(Sink, DispIdReady, 'Ready');
    { A port that is not a number is a service name, looked up after the call returns. No
      service is named "0": the look-up fails and WsError reports it; the sink cancels the close. }
    Udp.SendTo(Host, string('0'), BytesOf('to nowhere'));
    Expect(Sink, DispIdWsError, 'WsError');
    Udp.SendTo(Host, Port, BytesOf('hello from a Pascal event sink'));
    Expect(Sink, DispIdReceived, 'Received (the echo)');
    Udp.Close;
    Expect(Sink, DispIdClosed, 'Closed');
    Result := 0;
  finally
    InterfaceDisconnect(Socket, DIID_DUdpEvents, Cookie);
  end;
end;

var
  Host: string;
begin
  if ParamCount < 1 then
  begin
    Writeln('usage: UdpEventSink <port> [host]');
    Halt(2);
  end;
  Host := '127.0.0.1';
  if ParamCount > 1 then
    Host := ParamStr(2);
  UseUtf8Console;
  CoInitialize(nil);
  try
    ExitCode := Run(Host, ParamStr(1));
  except
    on E: Exception do
    begin
      Writeln(E.ClassName, ': ', E.Message);
      ExitCode := 1;
    end;
  end;
  CoUninitialize;
end.
