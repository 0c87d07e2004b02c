function expect_error(call, expected)
  % EXPECT_ERROR  Fails unless evaluating CALL raises exactly EXPECTED.
  try
    evalin('caller', [call ';']);
  catch err
    if ~strcmp(err.message, expected)
      error('%s raised "%s", expected "%s"', call, err.message, expected);
    end
    return;
  end
  error('%s raised no error, expected "%s"', call, expected);
end
