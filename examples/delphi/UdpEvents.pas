unit UdpEvents;

{ An event sink for _DUdpEvents (the events of the control and of UdpSocket) and the message
  pump a console program needs to receive them. The sink prints each event; its WsError handler
  sets CancelClose so that the port stays open. }

{$IFDEF FPC}{$MODE DELPHI}{$ENDIF}

interface

uses
  Windows, ActiveX;

const
  DIID_DUdpEvents: TGUID = '{83DCE070-F02C-4B72-810E-6E3739EF2725}';
  { The events' DISPIDs in _DUdpEvents. }
  DispIdWsError = 1;
  DispIdReceived = 2;
  DispIdClosed = 3;
  DispIdReady = 4;
  DispIdSent = 5;

type
  { The cookie of a connection: Delphi's ComObj declares it Longint, Free Pascal's DWORD. }
  TConnectionCookie = {$IFDEF FPC}DWORD{$ELSE}Longint{$ENDIF};

  { IDispatch under the IID of _DUdpEvents: a source asks its sink for that interface first. }
  IUdpEvents = interface(IDispatch)
    ['{83DCE070-F02C-4B72-810E-6E3739EF2725}']
  end;

  TUdpEventSink = class(TInterfacedObject, IDispatch, IUdpEvents)
  private
    FSeen: array[DispIdWsError..DispIdSent] of Boolean;
    procedure WsError(Ecode: Integer; const Description, Where: string; var CancelClose: WordBool);
    procedure Received(const IpAddress, Port: string; const Data: OleVariant);
  protected
    { IDispatch: only Invoke matters to a sink; events come by DISPID. }
    function GetTypeInfoCount(out Count: Integer): HResult; stdcall;
    function GetTypeInfo(Index, LocaleID: Integer; out TypeInfo): HResult; stdcall;
    function GetIDsOfNames(const IID: TGUID; Names: Pointer;
      NameCount, LocaleID: Integer; DispIDs: Pointer): HResult; stdcall;
    function Invoke(DispID: Integer; const IID: TGUID; LocaleID: Integer; Flags: Word;
      var Params; VarResult, ExcepInfo, ArgErr: Pointer): HResult; stdcall;
  public
    { Processes this thread's messages until the event has come since the last WaitFor of it,
      or the time is up; True when it came. }
    function WaitFor(DispId: Integer; Milliseconds: Cardinal): Boolean;
  end;

implementation

uses
  SysUtils, Variants, UdpBytes;

type
  { A DISPPARAMS' arguments seen as OleVariants. They come last first: of N arguments, the
    first is Args^[N - 1]. }
  TOleVariantList = array[0..15] of OleVariant;
  POleVariantList = ^TOleVariantList;

const
  { The arguments of an event the control raises. }
  ArgumentCounts: array[DispIdWsError..DispIdSent] of Integer = (4, 3, 0, 0, 0);

function TUdpEventSink.GetTypeInfoCount(out Count: Integer): HResult;
begin
  Count := 0;
  Result := S_OK;
end;

function TUdpEventSink.GetTypeInfo(Index, LocaleID: Integer; out TypeInfo): HResult;
begin
  Pointer(TypeInfo) := nil;
  Result := E_NOTIMPL;
end;

function TUdpEventSink.GetIDsOfNames(const IID: TGUID; Names: Pointer;
  NameCount, LocaleID: Integer; DispIDs: Pointer): HResult;
begin
  Result := E_NOTIMPL;
end;

function TUdpEventSink.Invoke(DispID: Integer; const IID: TGUID; LocaleID: Integer;
  Flags: Word; var Params; VarResult, ExcepInfo, ArgErr: Pointer): HResult;
var
  Args: POleVariantList;
  Cancel: PWordBool;
begin
  Result := S_OK;
  if (DispID < Low(FSeen)) or (DispID > High(FSeen)) then
    Exit;
  if Integer(TDispParams(Params).cArgs) <> ArgumentCounts[DispID] then
    Exit(DISP_E_BADPARAMCOUNT);
  Args := POleVariantList(TDispParams(Params).rgvarg);
  { An exception must not cross into the control: it gets a failure instead. }
  try
    case DispID of
      DispIdWsError:
        begin
          { CancelClose is a VARIANT_BOOL by reference: the handler writes through it. }
          if TVarData(Args^[0]).VType <> (varBoolean or varByRef) then
            Exit(DISP_E_TYPEMISMATCH);
          Cancel := TVarData(Args^[0]).VPointer;
          WsError(Args^[3], Args^[2], Args^[1], Cancel^);
        end;
      DispIdReceived:
        Received(Args^[2], Args^[1], Args^[0]);
      DispIdClosed:
        Writeln('Closed');
      DispIdReady:
        Writeln('Ready');
      DispIdSent:
        Writeln('Sent');
    end;
  except
    Result := E_FAIL;
  end;
  FSeen[DispID] := True;
end;

procedure TUdpEventSink.WsError(Ecode: Integer; const Description, Where: string;
  var CancelClose: WordBool);
begin
  Writeln('WsError ', Ecode, ' in ', Where, ': ', Description);
  { Without this the control closes the port after the event (and raises Closed). }
  CancelClose := True;
  Writeln('  CancelClose: the port stays open');
end;

procedure TUdpEventSink.Received(const IpAddress, Port: string; const Data: OleVariant);
begin
  Writeln('Received ', ByteCount(Data), ' bytes from ', IpAddress, ' port ', PortOf(Port),
    ' (Port ''', Port, '''): ', TextOf(Data));
end;

function TUdpEventSink.WaitFor(DispId: Integer; Milliseconds: Cardinal): Boolean;
var
  Msg: TMsg;
  Deadline: UINT_PTR;
begin
  { A timer marks the end of the wait: its message wakes GetMessage when nothing else comes. }
  Deadline := SetTimer(0, 0, Milliseconds, nil);
  try
    while not FSeen[DispId] do
    begin
      if not GetMessage(Msg, 0, 0, 0) then
        Break;
      if (Msg.message = WM_TIMER) and (Msg.wParam = Deadline) then
        Break;
      TranslateMessage(Msg);
      DispatchMessage(Msg);
    end;
  finally
    KillTimer(0, Deadline);
  end;
  Result := FSeen[DispId];
  FSeen[DispId] := False;
end;

end.
